#include "model/ShareDuration.h"

#include <QStringList>

using namespace std::chrono;

std::optional<ShareDuration::Limit> ShareDuration::parse(QStringView text) {
    if (text == u"off")
        return Limit();
    constexpr struct {
        char16_t unit;
        qint64 seconds;
    } units[] = {{u'h', 3600}, {u'm', 60}, {u's', 1}};
    qint64 total = 0;
    int next = 0; // the first unit still allowed
    qsizetype at = 0;
    while (at < text.size()) {
        qint64 number = 0;
        const qsizetype digitsFrom = at;
        for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
            number = number * 10 + (text[at].unicode() - u'0');
            if (number > longest.count())
                return std::nullopt; // also keeps the sum far from overflowing
        }
        if (at == digitsFrom || at == text.size())
            return std::nullopt;
        int unit = next;
        while (unit < 3 && units[unit].unit != text[at])
            ++unit;
        if (unit == 3)
            return std::nullopt;
        total += number * units[unit].seconds;
        if (total > longest.count())
            return std::nullopt;
        next = unit + 1;
        ++at;
    }
    if (total == 0)
        return std::nullopt;
    return Limit(seconds(total));
}

namespace {

// Without a translation loaded, "%n" plurals would read "2 second(s)": each form is its own text.
QString count(qint64 n, const QString& one, const QString& many) {
    return n == 1 ? one : many.arg(n);
}

} // namespace

QString ShareDuration::inWords(seconds duration) {
    const qint64 total = duration.count();
    if (total < 120 && total % 60 != 0)
        return count(total, tr("1 second"), tr("%1 seconds"));
    const qint64 hours = total / 3600;
    const qint64 minutes = total % 3600 / 60;
    const qint64 secs = total % 60;
    QStringList parts;
    if (hours > 0)
        parts << count(hours, tr("1 hour"), tr("%1 hours"));
    if (minutes > 0)
        parts << count(minutes, tr("1 minute"), tr("%1 minutes"));
    if (secs > 0)
        parts << count(secs, tr("1 second"), tr("%1 seconds"));
    return parts.join(QLatin1Char(' '));
}

QString ShareDuration::remaining(milliseconds left) {
    const qint64 secs = std::max<qint64>(1, ceil<seconds>(left).count());
    if (secs < 60)
        return tr("%1 s").arg(secs);
    const qint64 minutes = (secs + 59) / 60;
    if (minutes < 60)
        return tr("%1 min").arg(minutes);
    if (minutes % 60 == 0)
        return tr("%1 h").arg(minutes / 60);
    return tr("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}
