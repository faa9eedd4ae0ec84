#include "model/RefusalText.h"

#include <QCoreApplication>

namespace RefusalText {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("RefusalText", text);
}

QString serverName(HostCheck check) {
    switch (check) {
    case HostCheck::Vite:
        return QStringLiteral("Vite");
    case HostCheck::Webpack:
        return QStringLiteral("webpack-dev-server");
    case HostCheck::Django:
        return QStringLiteral("Django");
    case HostCheck::Rails:
        return QStringLiteral("Rails");
    case HostCheck::Next:
        return QStringLiteral("Next.js");
    case HostCheck::None:
        break;
    }
    return {};
}

// The dev server's own setting that lists the hosts it accepts.
QString setting(HostCheck check) {
    switch (check) {
    case HostCheck::Vite:
        return QStringLiteral("server.allowedHosts");
    case HostCheck::Webpack:
        return QStringLiteral("devServer.allowedHosts");
    case HostCheck::Django:
        return QStringLiteral("ALLOWED_HOSTS");
    case HostCheck::Rails:
        return QStringLiteral("config.hosts");
    case HostCheck::Next:
        return QStringLiteral("allowedDevOrigins");
    case HostCheck::None:
        break;
    }
    return {};
}

} // namespace

QString problem(HostCheck check, bool rewriteHost) {
    if (check == HostCheck::None)
        return {};
    if (!rewriteHost)
        return tr("%1 refuses the tunnel's address; turn on Open as localhost")
            .arg(serverName(check));
    return tr("%1 refuses the tunnel's requests; allow them in its %2")
        .arg(serverName(check), setting(check));
}

QString detail(HostCheck check, bool rewriteHost, const QString& tunnelName, qint64 port) {
    if (check == HostCheck::None)
        return {};
    if (!rewriteHost)
        return tr("%1's host check refused a request naming the public address. Open as "
                  "localhost (in the row's ⋯ menu, or: quillby set \"%2\" --rewrite-host on) "
                  "makes it see localhost:%3.")
            .arg(serverName(check), tunnelName)
            .arg(port);
    return tr("%1's host check refused a request even as localhost:%2. Add the tunnel's "
              "address to %3 in its configuration.")
        .arg(serverName(check))
        .arg(port)
        .arg(setting(check));
}

} // namespace RefusalText
