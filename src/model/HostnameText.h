#pragma once

#include <QString>
#include <optional>

// A host name as typed for a tunnel's address (dev.example.com): two labels or more of letters,
// digits and inner hyphens, the last one starting with a letter, at most 253 characters;
// surrounding blanks dropped, lower-cased. Empty text stays empty: a quick tunnel.
std::optional<QString> parseHostnameText(QStringView text);
