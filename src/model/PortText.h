#pragma once

#include <QString>
#include <optional>

// Parses a port as typed: an optional single '+' or '-', then one or more ASCII digits,
// nothing else (no whitespace), fitting a signed 64-bit integer.
std::optional<qint64> parseSignedInteger(QStringView text);

// A port the user may commit: parses as above and lies in 1 to 65535.
std::optional<qint64> parsePortText(QStringView text);
