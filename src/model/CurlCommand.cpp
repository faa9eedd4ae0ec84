#include "model/CurlCommand.h"

#include <QCoreApplication>
#include <QStringDecoder>

namespace {

// Inline bodies stay well under the length one argument may have (128 KiB on Linux).
constexpr qsizetype inlineLimit = 16 * 1024;

bool isInlineText(const QByteArray& body) {
    if (body.size() > inlineLimit || body.startsWith('@'))
        return false; // curl reads a file for "@name"
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    if (decoder.hasError())
        return false;
    for (QChar c : text)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n') &&
            c != QLatin1Char('\t'))
            return false;
    return true;
}

// A printf format that prints exactly these bytes: printable ASCII as itself, everything
// else as a three-digit octal escape, which every POSIX printf understands.
QString printfFormat(const QByteArray& body) {
    QString format;
    format.reserve(body.size() * 2);
    for (char c : body) {
        const uchar byte = uchar(c);
        if (c == '%')
            format += QStringLiteral("%%");
        else if (c == '\\')
            format += QStringLiteral("\\\\");
        else if (byte >= 0x20 && byte < 0x7f && c != '\'')
            format += QLatin1Char(c);
        else
            format += QStringLiteral("\\%1").arg(byte, 3, 8, QLatin1Char('0'));
    }
    return format;
}

} // namespace

namespace CurlCommand {

QString quoted(const QString& text) {
    QString word = text;
    word.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + word + QLatin1Char('\'');
}

QString of(const HttpExchange& exchange, const QString& baseUrl) {
    const QString target = QString::fromUtf8(exchange.target);
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QString url = target.startsWith(QLatin1Char('/')) ? base + target : target;
    const QByteArray& body = exchange.requestBody;
    const bool isHead = exchange.method == "HEAD";
    const QString indent = QStringLiteral(" \\\n  ");

    QString command;
    if (exchange.requestBodyCut())
        command += QCoreApplication::translate("CurlCommand",
                                               "# The body was cut at %1 bytes when captured; this "
                                               "sends the part that was kept.")
                       .arg(body.size()) +
                   QLatin1Char('\n');
    const bool inlineBody = body.isEmpty() || isInlineText(body);
    if (!inlineBody)
        command += QStringLiteral("printf ") + quoted(printfFormat(body)) + QStringLiteral(" | ");
    // -g: brackets and braces in the path are not ranges; --path-as-is: "/../" stays.
    command += QStringLiteral("curl -g --path-as-is ");
    command += isHead ? QStringLiteral("--head")
                      : QStringLiteral("-X ") + quoted(QString::fromLatin1(exchange.method));
    command += QLatin1Char(' ') + quoted(url);
    for (const auto& [name, value] : exchange.requestHeaders) {
        const bool cutLength =
            exchange.requestBodyCut() && name.compare("content-length", Qt::CaseInsensitive) == 0;
        if (cutLength)
            continue;
        // "Name;" is how curl sends a field with an empty value ("Name:" would remove it).
        const QString field = value.isEmpty() ? QString::fromLatin1(name) + QLatin1Char(';')
                                              : QString::fromUtf8(name + ": " + value);
        command += indent + QStringLiteral("-H ") + quoted(field);
    }
    // Fields curl adds by itself, left out when the capture has none.
    QStringList unwanted{QStringLiteral("User-Agent"), QStringLiteral("Accept")};
    if (!body.isEmpty())
        unwanted += {QStringLiteral("Content-Type"), QStringLiteral("Expect")};
    for (const QString& name : unwanted)
        if (!HttpExchange::field(exchange.requestHeaders, name.toLatin1().constData()))
            command += indent + QStringLiteral("-H ") + quoted(name + QLatin1Char(':'));
    if (!body.isEmpty())
        command += indent + QStringLiteral("--data-binary ") +
                   (inlineBody ? quoted(QString::fromUtf8(body)) : QStringLiteral("@-"));
    return command;
}

} // namespace CurlCommand
