#include "model/PortText.h"

#include <limits>

std::optional<qint64> parseSignedInteger(QStringView text) {
    qsizetype pos = 0;
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        pos = 1;
    }
    if (pos == text.size())
        return std::nullopt;
    // Accumulate as a negative number so that the most negative value fits too.
    qint64 value = 0;
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    for (; pos < text.size(); ++pos) {
        const char16_t c = text[pos].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == min)
            return std::nullopt;
        value = -value;
    }
    return value;
}

std::optional<qint64> parsePortText(QStringView text) {
    const auto value = parseSignedInteger(text);
    if (!value || *value < 1 || *value > 65535)
        return std::nullopt;
    return value;
}
