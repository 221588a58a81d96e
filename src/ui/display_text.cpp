#include "ui/display_text.h"

#include <QStringDecoder>

namespace quillfin::ui {

QString DisplayText(const std::string& bytes) {
    QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(view);
    if (!decoder.hasError()) return text;
    return QString::fromLatin1(view);
}

std::string StoredText(const QString& text) { return text.toUtf8().toStdString(); }

QString PlainCaption(const QString& caption) {
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size()) ++i;
        plain += caption[i];
    }
    return plain;
}

QString MessageText(const std::string& bytes) {
    QString text = DisplayText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

}  // namespace quillfin::ui
