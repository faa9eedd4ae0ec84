#include "model/TunnelName.h"

QString TunnelName::defaultName() {
    return tr("Tunnel");
}

QString TunnelName::forPort(qint64 port) {
    return tr("Port %1").arg(port);
}

QString trimTunnelName(const QString& text) {
    auto blank = [](QChar c) {
        return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}
