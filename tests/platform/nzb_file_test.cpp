// NZB files: what the export writes reads back as the same postings, and what a damaged or
// hostile file holds is refused whole.
#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <string>
#include <vector>

#include "headers/header_table.h"
#include "nzb/nzb_postings.h"
#include "platform/nzb_reader.h"
#include "platform/nzb_writer.h"
#include "platform/program_rig.h"

namespace quillfin::platform {
namespace {

std::string Gzip(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, uLong(data.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Every field the download and the filing use, posting by posting.
template <typename Entries>
std::string Text(const Entries& entries) {
    std::string text;
    for (const headers::HeaderEntry& e : entries) {
        text += e.Subject + "|" + e.From + "|" + e.Date + "|" + e.Group.str() + "|" +
                std::to_string(e.PartTotal) + "|" + std::to_string(e.Size);
        std::set<std::string> parts;  // a scan keeps them in the order they came
        for (const headers::PartRef& part : e.Parts)
            parts.insert(std::string(part.Subject) + ":" + std::to_string(part.Bytes) + ":" +
                         part.Group.str());
        for (const std::string& part : parts) text += " " + part;
        text += "\n";
    }
    return text;
}

TEST(NzbFile, ExportedPostingsReadBackAsTheSamePostingsAndTheSameXml) {
    storage::Settings settings;
    common::ManualClock clock;
    storage::ActivityLog log{settings, clock, "/nonexistent-dir"};
    headers::HeaderTable table{log};
    table.CurrentGroup = "alt.binaries.x";
    // Parts out of order, a poster with markup and non-ASCII, a one-part file.
    const char* from = "P\xc3\xa9ter <p&q@example.net> \"x\"";
    const char* date = "12-06-2026";
    for (const char* n : {"3", "1", "2"})
        table.add_articleheader(from, std::string("[1/2] - \"a.rar\" yEnc (") + n + "/3)",
                                std::string("10") + n, "10", std::string("70") + n, date, "<m>");
    table.add_articleheader("b@example.net", "b.nfo (1/1)", "200", "1", "9", date, "<n>");
    ASSERT_EQ(table.HeaderCount(), 2);
    const std::vector<std::vector<std::string>> ids = {{"<a3@x>", "<a1@x>", "<a2&amp;@x>"},
                                                       {"<b\"1@x>"}};
    const std::string xml = WriteNzb(nzb::PostingsToDocument(table, {1, 2}, ids));
    EXPECT_NE(xml.find("<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">"), std::string::npos);
    EXPECT_NE(xml.find("date=\"1796515200\""), std::string::npos) << xml;  // midnight UTC
    EXPECT_NE(xml.find("<segment bytes=\"701\" number=\"1\">a1@x</segment>"), std::string::npos);

    for (const std::string& bytes : {xml, Gzip(xml)}) {
        const NzbReadResult read = ReadNzb(bytes);
        ASSERT_EQ(read.error, "");
        ASSERT_EQ(nzb::CheckDocument(read.document), "");
        const std::vector<headers::HeaderEntry> postings = nzb::DocumentToPostings(read.document);
        EXPECT_EQ(Text(postings), Text(table.Entries()));
        std::vector<std::vector<std::string>> read_ids;
        for (const headers::HeaderEntry& e : postings) {
            read_ids.emplace_back();
            for (const headers::PartRef& part : e.Parts)
                read_ids.back().push_back(std::string(part.ArticleNumber));
        }
        EXPECT_EQ(read_ids, (std::vector<std::vector<std::string>>{
                                {"<a1@x>", "<a2&amp;@x>", "<a3@x>"}, {"<b\"1@x>"}}));
        // Exported again from the imported postings: the same file.
        headers::HeaderTable imported{log};
        headers::HeaderTable::EntryList list;
        for (const headers::HeaderEntry& e : postings) list.push_back(e);
        imported.Replace(std::move(list));
        EXPECT_EQ(WriteNzb(nzb::PostingsToDocument(imported, {1, 2}, read_ids)), xml);
        EXPECT_EQ(std::string(imported.Entry(1).Part(3).Subject), "[1/2] - \"a.rar\" yEnc (3/3)");
        // A part the scan added after the IDs were asked for is not written without one.
        read_ids[0].pop_back();
        EXPECT_EQ(nzb::PostingsToDocument(imported, {1}, read_ids).files[0].segments.size(), 2u);
    }
}

std::string Nzb(const std::string& files, const std::string& prolog = "") {
    return "<?xml version=\"1.0\"?>" + prolog +
           "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">" + files + "</nzb>";
}
std::string File(const std::string& segments, const std::string& groups = "<group>a.b</group>",
                 const std::string& date = "1700000000") {
    return "<file poster=\"p\" date=\"" + date + "\" subject=\"s (1/2)\"><groups>" + groups +
           "</groups><segments>" + segments + "</segments></file>";
}
std::string Segment(int number, const std::string& bytes = "100", const std::string& id = "") {
    return "<segment bytes=\"" + bytes + "\" number=\"" + std::to_string(number) + "\">" +
           (id.empty() ? "i" + std::to_string(number) + "@x" : id) + "</segment>";
}

TEST(NzbFile, DamagedOrHostileFilesAreRefusedWholeWithAReason) {
    const std::string good = File(Segment(1) + Segment(2));
    std::string many_files;
    for (std::size_t i = 0; i <= nzb::NzbLimits::kFiles; ++i) many_files += "<file date=\"1\"/>";
    const struct Case {
        const char* name;
        std::string bytes;
        const char* reason;  // part of the message; empty: the file is queued
    } cases[] = {
        {"good", Nzb(good + good), ""},
        {"not XML", "PK\x03\x04 zip", "not well-formed XML"},
        {"cut short", Nzb(good).substr(0, 150), "not well-formed XML"},
        {"gzip cut short", Gzip(Nzb(good)).substr(0, 40), "compressed data is damaged"},
        {"gzip bomb", Gzip(std::string(nzb::NzbLimits::kFileBytes + 1, ' ')), "inflates to over"},
        {"entity declared", Nzb(good, "<!DOCTYPE nzb [<!ENTITY a \"aaaaaaaaaa\">]>"),
         "declares entities"},
        {"other root", "<html/>", "root element is not <nzb>"},
        {"no files", Nzb(""), "lists no files"},
        {"too many files", Nzb(many_files), "lists over 100000 files"},
        {"file without segments", Nzb(good + File("")), "file 2: it has no segments"},
        {"no group", Nzb(File(Segment(1) + Segment(2), "")), "names no newsgroup"},
        {"group as a path", Nzb(File(Segment(1), "<group>../etc</group>")), "not a newsgroup"},
        {"date not a number", Nzb(File(Segment(1), "<group>a</group>", "x")), "date attribute"},
        {"date past 9999", Nzb(File(Segment(1), "<group>a</group>", "253402300800")),
         "date is out of range"},
        {"zero bytes", Nzb(File(Segment(1, "0"))), "segment 1 has an impossible size"},
        {"absurd bytes", Nzb(File(Segment(1, "268435457"))), "impossible size"},
        {"largest bytes", Nzb(File(Segment(1, "268435456"))), ""},
        {"bytes overflow", Nzb(File(Segment(1, "99999999999999999999"))), "bytes attribute"},
        {"missing segment", Nzb(File(Segment(1) + Segment(3))), "segment 2 is missing"},
        {"duplicate segment", Nzb(File(Segment(1) + Segment(2) + Segment(2))),
         "segment 2 is listed twice"},
        {"last segment missing", Nzb(File(Segment(2))), "segment 1 is missing"},
        {"empty message-ID", Nzb(File(Segment(1, "9", " "))), "no usable message-ID"},
        {"blank in message-ID", Nzb(File(Segment(1, "9", "a b@x"))), "no usable message-ID"},
        {"message-ID over 248", Nzb(File(Segment(1, "9", std::string(249, 'i')))),
         "no usable message-ID"},
        {"message-ID of 248", Nzb(File(Segment(1, "9", std::string(248, 'i')))), ""},
        {"bracketed message-ID", Nzb(File(Segment(1, "9", "&lt;a@x&gt;"))), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NzbReadResult read = ReadNzb(c.bytes);
        const std::string reason =
            read.error.empty() ? nzb::CheckDocument(read.document) : read.error;
        if (*c.reason == '\0') {
            EXPECT_EQ(reason, "");
            continue;
        }
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        if (!read.error.empty()) {
            EXPECT_TRUE(read.document.files.empty());
        }
    }

    // The program queues a refused document not in part, and says why.
    Rig rig(1, false, {});
    NzbReadResult half = ReadNzb(Nzb(good + File(Segment(2))));
    ASSERT_EQ(half.error, "");
    EXPECT_FALSE(rig.program.ImportNzb(half.document, "half.nzb"));
    EXPECT_EQ(rig.program.table.HeaderCount(), 0);
    EXPECT_EQ(rig.program.batch.Rows().Count(), 0);
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.prompts.shown[0].text,
              "The NZB file half.nzb cannot be queued: file 2: segment 1 is missing.\n\n"
              "Nothing from it was added to the batch.");
    EXPECT_TRUE(rig.program.ImportNzb(ReadNzb(Nzb(good + good)).document, "good.nzb"));
    EXPECT_EQ(rig.program.batch.Rows().Count(), 2);
}

}  // namespace
}  // namespace quillfin::platform
