// The port field: parsePortText and parseSignedInteger agree with a separate reading of the
// rule (an optional '+' or '-', then one or more ASCII digits and nothing else, within a
// signed 64-bit integer; a port lies in 1 to 65535), for any text, including non-ASCII
// digits, lone surrogates and whitespace.
#include "model/PortText.h"

#include <QString>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// The rule, written out plainly: check the characters first, then let the standard library
// convert the ASCII digits and report overflow.
std::optional<int64_t> referenceInteger(const QString& text) {
    std::string ascii;
    ascii.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        const bool sign = i == 0 && (c == u'+' || c == u'-');
        const bool digit = c >= u'0' && c <= u'9';
        if (!sign && !digit)
            return std::nullopt;
        ascii.push_back(static_cast<char>(c));
    }
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    if (first != last && *first == '+')
        ++first; // from_chars takes no '+'
    if (first == last || (*first == '-' && first + 1 == last))
        return std::nullopt;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

std::optional<int64_t> referencePort(const QString& text) {
    const auto value = referenceInteger(text);
    if (!value || *value < 1 || *value > 65535)
        return std::nullopt;
    return value;
}

void check(const QString& text) {
    const auto integer = parseSignedInteger(text);
    const auto wantInteger = referenceInteger(text);
    const auto port = parsePortText(text);
    const auto wantPort = referencePort(text);
    if (integer != wantInteger || port != wantPort) {
        std::fprintf(stderr, "disagreement on \"%s\": integer %s/%s, port %s/%s\n",
                     text.toUtf8().constData(), integer ? std::to_string(*integer).c_str() : "none",
                     wantInteger ? std::to_string(*wantInteger).c_str() : "none",
                     port ? std::to_string(*port).c_str() : "none",
                     wantPort ? std::to_string(*wantPort).c_str() : "none");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const auto rest = static_cast<qsizetype>(size - 1);
    switch (data[0] % 3) {
    case 0:
        // What the user typed, as UTF-8.
        check(QString::fromUtf8(bytes, rest));
        break;
    case 1: {
        // Raw UTF-16 code units: other scripts' digits, full-width signs, lone surrogates.
        QString text(rest / 2, Qt::Uninitialized);
        std::memcpy(text.data(), bytes, static_cast<size_t>(rest / 2) * 2);
        check(text);
        break;
    }
    default: {
        // Every 64-bit value written in decimal reads back as itself, with or without '+'
        // and leading zeros.
        int64_t value = 0;
        std::memcpy(&value, bytes, std::min<size_t>(sizeof value, static_cast<size_t>(rest)));
        const QString decimal = QString::number(value);
        check(decimal);
        if (parseSignedInteger(decimal) != value)
            std::abort();
        const QString padded = value < 0 ? QStringLiteral("-000") + decimal.sliced(1)
                                         : QStringLiteral("+000") + decimal;
        check(padded);
        if (parseSignedInteger(padded) != value)
            std::abort();
        break;
    }
    }
    return 0;
}
