#pragma once

#include <QString>
#include <QStringList>
#include <QUuid>

class QObject;
class QProcess;

// The client's command lines for a named tunnel. Every one keeps the user's own config.yml out
// (--config /dev/null) and the client from replacing itself (--no-autoupdate). The account API's
// base is left to the client: TUNNEL_API_URL, when the environment sets it.
class NamedTunnelCommand {
public:
    static QStringList login();
    // create --credentials-file PATH NAME
    static QStringList create(const QString& name, const QString& credentialsPath);
    // route dns [--overwrite-dns] UUID HOST: taking a record over only when asked.
    static QStringList routeDns(const QUuid& remote, const QString& hostname, bool takeOver);
    // run --credentials-file PATH --url http://127.0.0.1:GATEWAY UUID: with no ingress rules,
    // --url is the catch-all; needs neither the certificate nor the account API.
    static QStringList run(const QString& credentialsPath, quint16 gatewayPort,
                           const QUuid& remote);
    // delete -f --credentials-file PATH UUID: even while connected.
    static QStringList remove(const QUuid& remote, const QString& credentialsPath);

    // "quillby-<name>-<first 8 of the id>", as the account's dashboard lists it: the name in
    // lower case, anything but letters and digits a hyphen.
    static QString remoteName(const QString& name, const QUuid& tunnel);

    // Lets go of an account command still running: killed (it only waits on the account or the
    // browser), deleted once it has ended, nothing of it heard any more.
    static void abandon(QProcess* child, QObject* listener);
};
