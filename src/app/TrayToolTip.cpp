#include "app/TrayToolTip.h"

#include "model/TunnelInstance.h"

#include <QCoreApplication>
#include <QLocale>
#include <climits>

namespace TrayToolTip {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("TrayToolTip", text);
}

QString elideMiddle(const QString& text, int length) {
    if (text.size() <= length)
        return text;
    const int tail = (length - 1) / 2;
    return text.left(length - 1 - tail) + QChar(0x2026) + text.right(tail);
}

} // namespace

QString text(const std::vector<TunnelInstance*>& instances) {
    QStringList lines{tr("Quillby")};
    for (const TunnelInstance* instance : instances) {
        const QString name = instance->config().name;
        switch (instance->state()) {
        case TunnelInstance::State::Stopped:
            continue;
        case TunnelInstance::State::Connecting:
        case TunnelInstance::State::Active:
            if (const auto& url = instance->tunnelURL(); url && !instance->password().isEmpty())
                lines << tr("%1: %2 (password)").arg(name, elideMiddle(*url, maxUrlLength));
            else if (url)
                lines << tr("%1: %2").arg(name, elideMiddle(*url, maxUrlLength));
            else
                lines << tr("%1: %2").arg(name, tr("Connecting..."));
            break;
        case TunnelInstance::State::Reconnecting:
            lines << tr("%1: %2").arg(name, tr("Reconnecting..."));
            break;
        case TunnelInstance::State::Stopping:
            lines << name;
            break;
        }
        // A quick tunnel opens one or more; a tunnel on the user's own domain four.
        if (const int connections = instance->connections().value_or(0);
            connections > 1 && instance->state() == TunnelInstance::State::Active)
            lines << QCoreApplication::translate("TrayToolTip", "%n connection(s) up", nullptr,
                                                 connections);
        // Counted whatever inspection is set to; read now, not announced per request.
        const quint64 requests = instance->gateway()->requests();
        const int count = requests > quint64(INT_MAX) ? INT_MAX : int(requests);
        if (count > 0)
            lines << QCoreApplication::translate("TrayToolTip", "%n request(s), the last at %1",
                                                 nullptr, count)
                         .arg(QLocale().toString(
                             instance->gateway()->lastRequestAt().toLocalTime().time(),
                             QLocale::ShortFormat));
    }
    if (lines.size() == 1)
        lines << tr("No tunnel running");
    return lines.join(QLatin1Char('\n'));
}

} // namespace TrayToolTip
