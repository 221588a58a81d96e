#!/usr/bin/env python3
"""Writes the fuzz targets' seeds into fuzz/corpus/<target>/ from texts the tests use.

Pieces of an input are separated by NUL; a leading byte holds the target's option flags.
Run again after changing a seed; uuenview (Debian's uudeview package) makes the articles.
Inputs that once failed are kept beside these seeds under names of their own.
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SEP = b"\0"


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def overview_line(number, subject, sender=b'"Jo Poster" <jo@example.net>',
                  date=b"Sat, 05 Dec 1998 10:00:00 GMT", size=b"5000"):
    n = str(number).encode()
    return b"\t".join([n, subject, sender, date, b"<" + n + b"@x>", b"", size, b"80",
                       b"Xref: news.example alt.test:" + n]) + b"\r\n"


def burst(lines):
    return b"224 Overview information follows\r\n" + b"".join(lines) + b".\r\n"


def group_reply(first, last, group, count=5):
    return b"211 %d %d %d %s\r\n" % (count, first, last, group)


def network_text(text):
    out = b""
    for line in text.replace(b"\r\n", b"\n").split(b"\n"):
        if line.startswith(b"."):
            line = b"." + line
        out += line + b"\r\n"
    return out


def article(number, subject, body):
    n = str(number).encode()
    return (b"220 " + n + b" <" + n + b"@example.test> article\r\nPath: x\r\n"
            b"From: poster@example.test\r\nNewsgroups: alt.test\r\nSubject: " + subject +
            b"\r\nMessage-ID: <" + n + b"@example.test>\r\n\r\n" + network_text(body) + b".\r\n")


def encoded(name, data, flag, lines):
    """uuenview's parts of a file, in part order."""
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "src")
        out = os.path.join(tmp, "out")
        os.makedirs(src)
        os.makedirs(out)
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
        subprocess.run(["uuenview", flag, "-%d" % lines, "-od", out, name], cwd=src, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        parts = []
        for part in sorted(os.listdir(out)):
            with open(os.path.join(out, part), "rb") as f:
                parts.append(f.read())
        return parts


def data_of(size, seed):
    out = bytearray()
    for _ in range(size):
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((seed >> 16) & 0xFF)
    return bytes(out)


SUBJECTS = [b"holiday.zip (01/10)", b"holiday.zip (03/10) yEnc", b"  holiday.zip (03/10)  ",
            b"[Pics] beach [2/5]", b"[Pics] beach [2]", b"Report (2)", b"(01/10)",
            b"x (1/2) y (1/2)", b"Pictures (1999)", b'[0042/0180] - "a.rar" yEnc (07/50)',
            b'[3/7] - "b.par2" yEnc (1/4)', b"a (5/9) b (1/3)", b"abcdefgh 2) 2) 2) tail",
            b"abc", b"song.mp3 (01/19)"]


def overview_seeds():
    lines = [overview_line(101, b"pic.jpg (1/2)"), overview_line(102, b"pic.jpg (2/2)"),
             overview_line(103, b"notes.txt")]
    write("overview_burst", "three", b"\x02" + burst(lines))
    write("overview_burst", "empty", b"\x00224 Overview information follows\r\n.\r\n")
    many = [overview_line(200 + k, b"movie.avi (%02d/12) yEnc" % (k % 12 + 1)) for k in range(14)]
    write("overview_burst", "long_posting", b"\x03" + burst(many[:7]) + SEP + burst(many[7:]))
    odd = [overview_line(1, b"a (1/3)", sender=b"<x@y>", date=b"5 Dec 1998"),
           b"2\ta (2/3)\tp\td\t<m>\t\t5000\r\n",
           overview_line(3, b"a (3/3)", sender=b"jo (Jo)", date=b"Mon, 1 Jan 2001 00:00:00")]
    write("overview_burst", "odd_fields", b"\x01" + burst(odd))
    for i, subject in enumerate(SUBJECTS):
        write("overview_burst", "subject%02d" % i, b"\x02" + burst([overview_line(10 + i, subject)]))


def subject_seeds():
    for i, subject in enumerate(SUBJECTS):
        write("subject_key", "subject%02d" % i, subject)


def header_file_seeds():
    with open(os.path.join(ROOT, "tests", "data", "npending.dat"), "rb") as f:
        write("header_file", "npending.dat", f.read())
    write("header_file", "one_posting",
          b"QFNHF06\r\n 1\r\nreadme.txt\r\nalt.test\r\n12-07-2026\r\nanon\r\nFalse\r\n 0\r\n 1\r\n"
          b" 1200\r\n1010\r\n\r\nreadme.txt\r\n")
    write("header_file", "lf_only",
          b"QFNHF06\n 1\nr\nalt.test\n\nanon\nTrue\n-1\n 2\n 5\n1\nalt.other\nr (1/2)\n 6\n2\n\nr (2/2)")
    write("header_file", "old_version", b"QFNHF05\r\n 1\r\n")


def settings_seeds():
    options = (b"[Options]\r\nDownload_Path=/home/u/news/\r\nRescan_Time=30\r\nsldTimeout=120\r\n"
               b"News_Host=news.example.net\r\nNews_Port=563\r\nUser_Name=me\r\n"
               b"chkSavePassword=1\r\nUser_Pass=p=w;d\xe9\r\nchkAuth=1\r\nchkMakeSubDirs=0\r\n"
               b"chkSFX=1\r\nchkSaveDecodes=0\r\nchkSlave=1\r\nsldXOVER=2000\r\n"
               b"togtsComplete=False\r\ntogtsText=False\r\n")
    sizing = b"[Sizing]\r\nWindowState=2\r\nTop=10\r\nLeft=20\r\nHeight=300\r\nWidth=400\r\n"
    columns = (b"[Header View Column Sizes]\r\nC1=1\r\nC2=2\r\nC3=3\r\nC4=4\r\nC5=5\r\nC6=6\r\n"
               b"[Batch View Column Sizes]\r\nC1=500\r\nC2=35\r\nC3=35\r\n")
    favs = (b"alt.binaries.test\r\nalt.test 1234\r\n alt.test , 77 , tRUE \r\n\r\na,1,1\r\n"
            b"a,b,True,extra\r\n\x01\xff junk\x80\n")
    write("settings_files", "full", options + sizing + columns + SEP + favs + SEP + b" value ")
    write("settings_files", "comments", b"; comment\n[options]\nsldxover = 50 \n[Sizing\nTop=x\r"
          + SEP + b"one\n" + SEP + b"a\rb\n")
    write("settings_files", "empty", b"")


def scan_seeds():
    greeting = b"200 news.example.test ready\r\n"
    talk = [group_reply(3000, 5230, b"alt.test", 2230),
            burst([overview_line(n, b"file%d.jpg (1/1)" % n) for n in range(5000, 5006)]),
            group_reply(1, 3, b"alt.binaries.two"), burst([overview_line(1, b"x (1/2)")]),
            b"411 no such group\r\n", b"205 bye\r\n"]
    write("scan_reply", "scan", b"\x00" + SEP.join(talk))
    whole = b"".join(talk)
    write("scan_reply", "split", b"\x00" + SEP.join(whole[i:i + 37] for i in range(0, len(whole), 37)))
    write("scan_reply", "login", b"\x03" + SEP.join([b"480 login\r\n", b"381 more\r\n",
                                                     b"281 ok\r\n", b"202 slave\r\n"] + talk))
    write("scan_reply", "errors", b"\x0c" + SEP.join([b"421 x\r\n", b"500 what\r\n", b"502 no\r\n",
                                                      b"400 bye\r\n"]))
    write("scan_reply", "reentrant", b"\x00" + SEP.join(
        [talk[0], talk[1][:100], b"\x01" + talk[1][100:], talk[2]]))
    del greeting


def download_seeds():
    # uuenview will not cut a part under 200 lines: one short file is cut in two by hand, so
    # the whole batch stays under the target's input length.
    lines = encoded("pic.jpg", data_of(900, 93), "-u", 1000)[0].split(b"\n")
    uu = [b"\n".join(lines[:len(lines) // 2]) + b"\n", b"\n".join(lines[len(lines) // 2:])]
    notes = encoded("notes.txt", b"hello\nworld\n" * 10, "-y", 1000)
    talk = [b"200 ready\r\n", group_reply(101, 102, b"alt.binaries.test"),
            article(101, b"pic.jpg (1/2)", uu[0]), article(102, b"pic.jpg (2/2)", uu[1] if len(uu) > 1 else b""),
            group_reply(7, 7, b"alt.test"), article(7, b"notes.txt", notes[0]), b"205 bye\r\n"]
    write("download_reply", "batch", b"\x00" + SEP.join(talk))
    whole = b"".join(talk)
    write("download_reply", "split", b"\x04" + SEP.join(whole[i:i + 197] for i in range(0, len(whole), 197)))
    write("download_reply", "login", b"\x03" + SEP.join([b"200 ready\r\n", b"480 login\r\n",
                                                         b"381 more\r\n", b"281 ok\r\n", b"202 slave\r\n",
                                                         b"211 2 101 102 alt.binaries.test\r\n",
                                                         b"423 no such article\r\n"]))
    write("download_reply", "close", b"\x08" + SEP.join([b"200 ready\r\n", talk[1], b"22", b"0 1 <x>\r\n",
                                                         b"\x01", b"200 again\r\n", b"412 no group\r\n"]))


def host_list_seeds():
    listing = (b"200 server ready\r\n215 list follows\r\nalt.binaries.test 120 100 y\r\n"
               b"Alt.binaries.test 5 1 y\r\nalt.binaries.test.d 99 100 y\r\nmisc.test 200000 1 m\r\n"
               b"alt.test.d 3000001000 3000000000 y\r\n\r\ncomp.last 10 4 y\r\n.\r\n")
    write("host_group_search", "starts", b"\x00alt.binaries" + SEP + listing)
    write("host_group_search", "contains", b"\x01test.d " + SEP + listing)
    write("host_group_search", "all", b"\x04" + SEP + listing)
    write("host_group_search", "dash", b"\x01-alt" + SEP + listing)
    big = b"".join(b"group%05d.name %d 1 y\r\n" % (k, k) for k in range(300))
    write("host_group_search", "skip", b"\x01name 2" + SEP + b"215 x\r\n" + big + b"zzz.test 5 1 y\r\n.\r\n")


def decode_seeds():
    small = data_of(3000, 7)
    for flag, name in ((b"-u", "uu"), (b"-y", "yenc"), (b"-b", "base64")):
        parts = encoded("file.bin", small, flag.decode(), 1000)
        write("posting_decode", name, b"\x00" + SEP.join(
            article(k + 1, b"file.bin", p) for k, p in enumerate(parts)))
    parts = encoded("two.bin", data_of(13000, 31), "-u", 200)
    write("posting_decode", "uu_parts", b"\x01" + SEP.join(
        article(k + 1, b"two.bin", p) for k, p in enumerate(parts)))
    parts = encoded("two.bin", data_of(13000, 31), "-y", 100)
    write("posting_decode", "yenc_parts_reversed", b"\x05" + SEP.join(
        article(k + 1, b"two.bin", p) for k, p in reversed(list(enumerate(parts)))))
    write("posting_decode", "text", b"\x00" + article(1, b"notes", b"just text\n"))


def yenc_seeds():
    for name, size, lines in (("one", 1, 1000), ("parts", 5000, 10), ("line", 128, 1000)):
        for k, part in enumerate(encoded(name + ".bin", data_of(size, 5), "-y", lines)):
            write("yenc_decode", "%s%d" % (name, k), b"\x01" + article(k + 1, b"s", part))
            if k == 0:
                write("yenc_decode", "%s_text" % name, b"\x00" + part)
    write("yenc_decode", "split_escape", b"\x01=ybegin line=128 size=3 name=a\r\nab=\r\nw\r\n"
          b"..\r\n=yend size=3 crc32=00000000\r\n.\r\n")


def nzb_seeds():
    def segment(number, size=b"700", mid=None):
        mid = mid or b"p" + str(number).encode() + b"@example.net"
        return (b'<segment bytes="' + size + b'" number="' + str(number).encode() + b'">' + mid +
                b"</segment>")

    def nzb_file(segments, subject=b'[1/2] - &quot;a.rar&quot; yEnc (1/3)', groups=b"alt.binaries.x"):
        return (b'<file poster="Jo &lt;jo@example.net&gt;" date="1796515200" subject="' + subject +
                b'"><groups><group>' + groups + b"</group></groups><segments>" + segments +
                b"</segments></file>")

    def nzb(files, prolog=b""):
        return (b'<?xml version="1.0" encoding="utf-8"?>\n' + prolog +
                b'<nzb xmlns="http://www.newzbin.com/DTD/2003/nzb">' + files + b"</nzb>\n")

    dtd = (b'<!DOCTYPE nzb PUBLIC "-//newzBin//DTD NZB 1.1//EN" '
           b'"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd">\n')
    good = nzb(nzb_file(segment(1) + segment(3) + segment(2)) +
               nzb_file(segment(1, b"9"), b"b.nfo (1/1)"), dtd)
    write("nzb_reader", "two_files.nzb", good)
    import gzip
    write("nzb_reader", "two_files.nzb.gz", gzip.compress(good, mtime=0))
    write("nzb_reader", "entity", nzb(nzb_file(segment(1)), b'<!DOCTYPE nzb [<!ENTITY a "aa">]>'))
    write("nzb_reader", "missing_segment", nzb(nzb_file(segment(1) + segment(3))))
    write("nzb_reader", "bracketed_id", nzb(nzb_file(segment(1, mid=b"&lt;a@x&gt;"))))


def main():
    overview_seeds()
    subject_seeds()
    header_file_seeds()
    settings_seeds()
    scan_seeds()
    download_seeds()
    host_list_seeds()
    decode_seeds()
    yenc_seeds()
    nzb_seeds()
    return 0


if __name__ == "__main__":
    sys.exit(main())
