#include "model/RefusalText.h"

#include <QCoreApplication>

namespace RefusalText {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("RefusalText", text);
}

// Each dev server with its own setting that lists the hosts it accepts.
struct Server {
    const char* name;
    const char* setting;
};

Server serverOf(HostCheck check) {
    switch (check) {
    case HostCheck::Vite:
        return {"Vite", "server.allowedHosts"};
    case HostCheck::Webpack:
        return {"webpack-dev-server", "devServer.allowedHosts"};
    case HostCheck::Django:
        return {"Django", "ALLOWED_HOSTS"};
    case HostCheck::Rails:
        return {"Rails", "config.hosts"};
    case HostCheck::Next:
        return {"Next.js", "allowedDevOrigins"};
    case HostCheck::None:
        break;
    }
    return {"", ""};
}

QString serverName(HostCheck check) {
    return QString::fromLatin1(serverOf(check).name);
}

QString setting(HostCheck check) {
    return QString::fromLatin1(serverOf(check).setting);
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
