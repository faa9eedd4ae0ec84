#include "model/ExchangeText.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QLocale>
#include <QStringDecoder>
#include <QUrlQuery>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("ExchangeText", text);
}

QString headerLines(const HttpExchange::Headers& headers) {
    QString text;
    for (const auto& [name, value] : headers)
        text += QString::fromLatin1(name) + QStringLiteral(": ") + QString::fromLatin1(value) +
                QLatin1Char('\n');
    return text;
}

// Text when it decodes as UTF-8 and holds no control characters other than line breaks and
// tabs.
std::optional<QString> asText(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    for (QChar c : text)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n') &&
            c != QLatin1Char('\r') && c != QLatin1Char('\t'))
            return std::nullopt;
    return text;
}

QString hexDump(const QByteArray& bytes) {
    constexpr qsizetype shown = 4096;
    QString text;
    for (qsizetype line = 0; line < qMin(bytes.size(), shown); line += 16) {
        const QByteArray piece = bytes.mid(line, 16);
        text += QStringLiteral("%1  %2\n")
                    .arg(line, 8, 16, QLatin1Char('0'))
                    .arg(QString::fromLatin1(piece.toHex(' ')));
    }
    return text;
}

// Where offset falls, counted from 1 as editors do.
QString position(const QByteArray& bytes, qsizetype offset) {
    const QByteArray before = bytes.left(offset);
    const qsizetype lineStart = before.lastIndexOf('\n') + 1;
    return QCoreApplication::translate("ExchangeText", "line %1, column %2")
        .arg(before.count('\n') + 1)
        .arg(QString::fromUtf8(before.mid(lineStart)).size() + 1);
}

bool isJsonType(const QByteArray& type) {
    return type.startsWith("application/json") || type.contains("+json");
}

bool isXmlType(const QByteArray& type) {
    return type.startsWith("application/xml") || type.startsWith("text/xml") ||
           type.contains("+xml");
}

// Indented, or nothing with *problem saying where it stops being XML.
QString prettyXml(const QByteArray& body, QString* problem) {
    QXmlStreamReader reader(body);
    QString out;
    QXmlStreamWriter writer(&out);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isWhitespace())
            continue;
        if (reader.tokenType() == QXmlStreamReader::StartDocument)
            continue; // the declaration as sent would claim an encoding the text no longer has
        if (!reader.hasError())
            writer.writeCurrentToken(reader);
    }
    if (reader.hasError()) {
        QString reason = reader.errorString();
        if (reason.endsWith(QLatin1Char('.'))) // the message goes on after it
            reason.chop(1);
        *problem = QCoreApplication::translate("ExchangeText",
                                               "Not well-formed XML: %1 at line %2, column %3")
                       .arg(reason)
                       .arg(reader.lineNumber())
                       .arg(reader.columnNumber());
        return {};
    }
    return out.trimmed() + QLatin1Char('\n');
}

} // namespace

namespace ExchangeText {

QString timing(const HttpExchange& exchange) {
    const auto ms = [](qint64 us) { return QLocale().toString(double(us) / 1000.0, 'f', 1); };
    if (exchange.status == 0)
        return tr("No answer after %1 ms").arg(ms(exchange.durationUs));
    return tr("First byte after %1 ms, complete after %2 ms")
        .arg(ms(exchange.firstByteUs), ms(exchange.durationUs));
}

QString body(const QByteArray& body, const QByteArray& contentType, qint64 fullSize) {
    if (fullSize == 0)
        return {};
    QString text;
    const QByteArray type = contentType.toLower();
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(body, &error);
    const auto plain = asText(body);
    QString xmlProblem;
    if (error.error == QJsonParseError::NoError && !json.isNull()) {
        text = QString::fromUtf8(json.toJson(QJsonDocument::Indented));
    } else if (isJsonType(type) && plain && fullSize == body.size()) {
        // As sent, so that the mistake can be seen where the message points.
        text =
            tr("Not valid JSON: %1 at %2").arg(error.errorString(), position(body, error.offset)) +
            QStringLiteral("\n\n") + *plain;
    } else if (plain && fullSize == body.size() &&
               (isXmlType(type) || body.trimmed().startsWith("<?xml"))) {
        text = prettyXml(body, &xmlProblem);
        if (text.isEmpty())
            text = xmlProblem + QStringLiteral("\n\n") + *plain;
    } else if (type.startsWith("application/x-www-form-urlencoded") && plain) {
        for (const auto& [name, value] :
             QUrlQuery(QString(*plain).replace(QLatin1Char('+'), QLatin1Char(' ')))
                 .queryItems(QUrl::FullyDecoded))
            text += name + QStringLiteral(" = ") + value + QLatin1Char('\n');
    } else if (plain) {
        text = *plain;
    } else {
        text = tr("%1 of binary data").arg(QLocale().formattedDataSize(fullSize)) +
               QStringLiteral("\n\n") + hexDump(body);
    }
    if (fullSize > body.size())
        text += QLatin1Char('\n') + tr("(%1 of %2 kept; the rest was forwarded, not kept)")
                                        .arg(QLocale().formattedDataSize(body.size()),
                                             QLocale().formattedDataSize(fullSize));
    return text;
}

QString request(const HttpExchange& exchange) {
    QString text = QString::fromLatin1(exchange.method) + QLatin1Char(' ') +
                   QString::fromUtf8(exchange.target) + QLatin1Char('\n') +
                   headerLines(exchange.requestHeaders);
    const QString shown =
        body(exchange.requestBody, HttpExchange::value(exchange.requestHeaders, "Content-Type"),
             exchange.requestBodySize);
    return shown.isEmpty() ? text : text + QLatin1Char('\n') + shown;
}

QString response(const HttpExchange& exchange) {
    if (exchange.status == 0)
        return exchange.originRefused ? tr("Nothing listened on the server's port.")
                                      : tr("No answer came back.");
    QString text = QString::number(exchange.status) + QLatin1Char(' ') +
                   QString::fromLatin1(exchange.reason) + QLatin1Char('\n') +
                   headerLines(exchange.responseHeaders);
    const QString shown =
        body(exchange.responseBody, HttpExchange::value(exchange.responseHeaders, "Content-Type"),
             exchange.responseBodySize);
    return shown.isEmpty() ? text : text + QLatin1Char('\n') + shown;
}

} // namespace ExchangeText
