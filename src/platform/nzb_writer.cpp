#include "platform/nzb_writer.h"

#include <QSaveFile>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamWriter>

namespace quillfin::platform {

namespace {

QString Text(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (utf8.hasError()) text = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    return text;
}

}  // namespace

std::string WriteNzb(const nzb::NzbDocument& document) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeDTD(
        "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" "
        "\"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">");
    xml.writeDefaultNamespace("http://www.newzbin.com/DTD/2003/nzb");
    xml.writeStartElement("http://www.newzbin.com/DTD/2003/nzb", "nzb");
    for (const nzb::NzbFile& file : document.files) {
        xml.writeStartElement("file");
        xml.writeAttribute("poster", Text(file.poster));
        xml.writeAttribute("date", QString::number(file.date));
        xml.writeAttribute("subject", Text(file.subject));
        xml.writeStartElement("groups");
        for (const std::string& group : file.groups) xml.writeTextElement("group", Text(group));
        xml.writeEndElement();
        xml.writeStartElement("segments");
        for (const nzb::NzbSegment& segment : file.segments) {
            xml.writeStartElement("segment");
            xml.writeAttribute("bytes", QString::number(segment.bytes));
            xml.writeAttribute("number", QString::number(segment.number));
            xml.writeCharacters(Text(segment.messageId));
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return out.toStdString();
}

bool WriteNzbFile(const std::string& path, const nzb::NzbDocument& document, std::string* error) {
    QSaveFile file(QString::fromLocal8Bit(path));
    const std::string xml = WriteNzb(document);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(xml.data(), qint64(xml.size())) != qint64(xml.size()) || !file.commit()) {
        *error = file.errorString().toLocal8Bit().toStdString();
        return false;
    }
    return true;
}

}  // namespace quillfin::platform
