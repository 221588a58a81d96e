#include "platform/nzb_reader.h"

#include <zlib.h>

#include <QFile>
#include <QXmlStreamReader>
#include <cstdint>

namespace quillfin::platform {

namespace {

using nzb::NzbLimits;

// Inflates a gzip stream, refusing one that grows past the limit (a small bomb inflates to
// gigabytes).
bool Gunzip(std::string_view in, std::string* out, std::string* error) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        *error = "the compressed file cannot be opened";
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = uInt(in.size());
    char chunk[1 << 16];
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        out->append(chunk, sizeof chunk - stream.avail_out);
        if (out->size() > NzbLimits::kFileBytes) {
            status = Z_MEM_ERROR;
            *error = "it inflates to over " + std::to_string(NzbLimits::kFileBytes >> 20) + " MB";
            break;
        }
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) break;  // cut short
    }
    inflateEnd(&stream);
    if (status == Z_STREAM_END) return true;
    if (error->empty()) *error = "the compressed data is damaged or cut short";
    return false;
}

// A whole decimal number, blanks around allowed.
bool Number(QStringView text, std::int64_t* value) {
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok);
    if (!ok) return false;
    *value = n;
    return true;
}

class Reader {
  public:
    explicit Reader(std::string_view xml)
        : xml_(QByteArray::fromRawData(xml.data(), qsizetype(xml.size()))) {}

    NzbReadResult Read() {
        while (!xml_.atEnd() && result_.error.empty()) {
            const auto token = xml_.readNext();
            if (token == QXmlStreamReader::DTD) {
                // Entities are how a small file becomes a huge one; an NZB needs none.
                if (!xml_.entityDeclarations().isEmpty()) Fail("its DOCTYPE declares entities");
            } else if (token == QXmlStreamReader::EntityReference) {
                Fail("it refers to an entity");
            } else if (token == QXmlStreamReader::StartElement) {
                StartElement();
            } else if (token == QXmlStreamReader::EndElement) {
                if (xml_.name() == u"file") file_ = nullptr;
            }
        }
        if (result_.error.empty() && xml_.hasError())
            Fail("it is not well-formed XML (line " + std::to_string(xml_.lineNumber()) + ": " +
                 xml_.errorString().toStdString() + ")");
        if (result_.error.empty() && !seen_root_) Fail("it has no <nzb> element");
        if (!result_.error.empty()) result_.document = {};
        return std::move(result_);
    }

  private:
    void Fail(std::string reason) {
        if (result_.error.empty()) result_.error = std::move(reason);
    }

    std::string Attribute(const char* name) {
        return xml_.attributes().value(QLatin1StringView(name)).toString().toStdString();
    }

    bool NumberAttribute(const char* name, std::int64_t* value) {
        if (Number(xml_.attributes().value(QLatin1StringView(name)), value)) return true;
        Fail(std::string("a <") + xml_.name().toString().toStdString() + "> has no usable " + name +
             " attribute");
        return false;
    }

    void StartElement() {
        const QStringView name = xml_.name();
        if (!seen_root_) {
            if (name != u"nzb") Fail("its root element is not <nzb>");
            seen_root_ = true;
        } else if (name == u"file") {
            if (result_.document.files.size() >= NzbLimits::kFiles) {
                Fail("it lists over " + std::to_string(NzbLimits::kFiles) + " files");
                return;
            }
            nzb::NzbFile& file = result_.document.files.emplace_back();
            file.poster = Attribute("poster");
            file.subject = Attribute("subject");
            if (!NumberAttribute("date", &file.date)) return;
            file_ = &file;
        } else if (name == u"group" && file_ != nullptr) {
            if (file_->groups.size() >= NzbLimits::kGroups) {
                Fail("a file names over " + std::to_string(NzbLimits::kGroups) + " newsgroups");
                return;
            }
            file_->groups.push_back(Text());
        } else if (name == u"segment" && file_ != nullptr) {
            if (++segments_ > NzbLimits::kSegments) {
                Fail("it lists over " + std::to_string(NzbLimits::kSegments) + " segments");
                return;
            }
            nzb::NzbSegment segment;
            if (!NumberAttribute("bytes", &segment.bytes) ||
                !NumberAttribute("number", &segment.number))
                return;
            segment.messageId = Text();
            // Some writers keep the brackets; the ID is the same.
            if (segment.messageId.size() >= 2 && segment.messageId.front() == '<' &&
                segment.messageId.back() == '>')
                segment.messageId = segment.messageId.substr(1, segment.messageId.size() - 2);
            file_->segments.push_back(std::move(segment));
        }
    }

    std::string Text() {
        return xml_.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toStdString();
    }

    QXmlStreamReader xml_;
    NzbReadResult result_;
    nzb::NzbFile* file_ = nullptr;
    std::size_t segments_ = 0;
    bool seen_root_ = false;
};

}  // namespace

NzbReadResult ReadNzb(std::string_view bytes) {
    if (bytes.size() > NzbLimits::kFileBytes)
        return {{}, "it is over " + std::to_string(NzbLimits::kFileBytes >> 20) + " MB"};
    std::string inflated;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
        static_cast<unsigned char>(bytes[1]) == 0x8b) {
        std::string error;
        if (!Gunzip(bytes, &inflated, &error)) return {{}, error};
        bytes = inflated;
    }
    return Reader(bytes).Read();
}

NzbReadResult ReadNzbFile(const std::string& path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) return {{}, file.errorString().toStdString()};
    if (file.size() > qint64(NzbLimits::kFileBytes))
        return {{}, "it is over " + std::to_string(NzbLimits::kFileBytes >> 20) + " MB"};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return {{}, file.errorString().toStdString()};
    return ReadNzb(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

}  // namespace quillfin::platform
