#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringView>
#include <chrono>
#include <optional>

// How long a tunnel is shared before it stops by itself: read from the command line, said in
// words in a notification, and counted down in the row.
class ShareDuration {
    Q_DECLARE_TR_FUNCTIONS(ShareDuration)

public:
    // No limit, or the time from when it was set.
    using Limit = std::optional<std::chrono::seconds>;
    // A limit further away is no limit worth the name.
    static constexpr std::chrono::seconds longest = std::chrono::hours(24 * 7);

    // "90s", "30m", "2h", "1h30m" (hours, minutes, seconds, each at most once and in that
    // order, ASCII digits), or "off" for no limit. Nothing for anything else: zero, a sign,
    // spaces, a bare number, or more than `longest`.
    static std::optional<Limit> parse(QStringView text);

    // For a sentence: "15 minutes", "1 hour 30 minutes"; under two minutes and not whole,
    // seconds only: "90 seconds".
    static QString inWords(std::chrono::seconds duration);
    // Short, for the row, rounded up so that it never says zero: "45 s", "12 min", "1 h 5 min".
    static QString remaining(std::chrono::milliseconds left);
};
