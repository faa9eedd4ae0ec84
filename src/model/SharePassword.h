#pragma once

#include <QString>
#include <QStringView>

// The password a protected tunnel asks its visitors for. A new one is drawn at every start from
// the system's random source and kept in memory only, like the URL it goes with. It is meant to
// be read aloud or typed from a phone: lower case only, in groups of four joined by '-' (the
// dashes are part of it), and without characters that could be taken for another: none of
// 0 o 1 l i 2 z 5 s 8 b g q u, so 6 and 9 stay unambiguous.
class SharePassword {
public:
    // Fixed and short: the password carries all the secret.
    static constexpr QStringView userName = u"quillby";
    static constexpr QStringView alphabet = u"acdefhjkmnprtvwxy34679";
    static constexpr int groupLength = 4;
    static constexpr int groups = 6;
    static constexpr QChar separator = u'-';

    // 24 symbols of 22: 24 * log2(22) = 107 bits.
    static QString generate();
};
