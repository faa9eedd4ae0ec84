#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QMetaType>
#include <QString>
#include <QUuid>
#include <optional>

// The persisted description of one tunnel: which local port to expose, under what name.
struct TunnelConfig {
    QUuid id;
    QString name;
    qint64 port = 0;
    // Run the request inspector in front of the local server. Saved only when on, under an
    // extra key that versions without the inspector ignore.
    bool inspect = false;
    // The local server sees requests as opened at http://localhost:PORT. Saved only when off,
    // so that tunnels saved before the switch existed have it on.
    bool rewriteHost = true;
    // Ask visitors for a password (a new one at every start, never saved). Saved only when on.
    bool password = false;
    // The address on the user's own domain (dev.example.com); empty for a quick tunnel. Saved
    // only when set, so lists of earlier versions load as quick tunnels.
    QString hostname = {};
    // The named tunnel in the account once it is created and routed to hostname; its
    // credentials live in a file of their own (AccountFiles), never here. Saved only when set.
    QUuid remote = {};

    // A new record with a fresh random id.
    static TunnelConfig create(const QString& name, qint64 port);

    // {"id": upper-case 36-character UUID, "name": text, "port": integer}, "inspect": true and
    // "password": true when on, "rewriteHost": false when off, "hostname" and "namedTunnel"
    // (the remote id) when set.
    QJsonObject toJson() const;
    // The three keys required with the right JSON types; "inspect" and "password" on only when
    // true, "rewriteHost" off only when false; other keys ignored.
    static std::optional<TunnelConfig> fromJson(const QJsonValue& value);

    // Names compare as text under canonical equivalence, not code unit by code unit. The
    // switches are preferences and take no part in identity.
    friend bool operator==(const TunnelConfig& a, const TunnelConfig& b);
};

size_t qHash(const TunnelConfig& config, size_t seed = 0) noexcept;

// The JSON array form of a whole list, as saved under "tunnelConfigs" (compact).
QByteArray encodeTunnelConfigs(const QList<TunnelConfig>& configs);
// Fails as a whole when any element fails.
std::optional<QList<TunnelConfig>> decodeTunnelConfigs(const QByteArray& json);

Q_DECLARE_METATYPE(TunnelConfig)
