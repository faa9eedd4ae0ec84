#pragma once

#include "model/Account.h"
#include "model/TunnelInstance.h"

#include <QObject>
#include <QSettings>
#include <vector>

// The single owner of the user's tunnels: the ordered list of instances, loaded from and
// saved to settings, with every instance change forwarded as a change of the store, queued
// to the event loop. Lives on the GUI thread.
class TunnelStore : public QObject {
    Q_OBJECT

public:
    // settings: where the list lives (not owned; must outlive the store).
    explicit TunnelStore(QSettings* settings, TunnelInstance::Services services = {},
                         QObject* parent = nullptr);
    ~TunnelStore() override;

    const std::vector<TunnelInstance*>& instances() const { return m_instances; }
    TunnelInstance* instance(const QUuid& id) const;

    // The port of a tunnel added without one, and of the first one ever made.
    static constexpr qint64 defaultPort = 8000;

    // Appends a tunnel, saved at once; the new instance.
    TunnelInstance* addTunnel(const QString& name, qint64 port);
    // The tunnel `quillby share PORT` starts: the one already on that port (an active one
    // first, then a running one, then the first listed), else a new one named for the port.
    TunnelInstance* tunnelToShare(qint64 port);
    // Removes a tunnel. deleteRemote: its named tunnel is deleted from the account too, then its
    // credentials file (remoteDeleted() follows); otherwise both are left.
    void removeTunnel(const QUuid& id, bool deleteRemote = false);
    void saveTunnels();

    bool hasRunningTunnel() const;
    int activeCount() const;

    // Quit: stops every tunnel (listed or already removed but still stopping). allStopped()
    // follows once no child process is left, at once when there is none.
    void stopAll();
    // Whether any child process of this store, listed or retired, is still alive.
    bool hasLiveChildren() const;

    const TunnelInstance::Services& services() const { return m_services; }
    // The account with the tunnel service, for signing in.
    Account* account() { return &m_account; }

signals:
    // Something about the store or one of its instances changed.
    void changed();
    // The list itself changed (membership or order).
    void instancesChanged();
    void allStopped();
    // The named tunnel of a removed tunnel (id, and its name when removed) was deleted from the
    // account, or not: then its credentials file is kept.
    void remoteDeleted(const QUuid& id, const QString& name, const AccountOutcome& outcome);

private:
    void loadTunnels();
    void observeInstances();
    TunnelInstance* makeInstance(const TunnelConfig& config);
    void checkAllStopped();
    void deleteRemote(const QUuid& id, const QString& name, const QUuid& remote);

    QSettings* m_settings;
    TunnelInstance::Services m_services;
    std::vector<TunnelInstance*> m_instances;
    std::vector<QMetaObject::Connection> m_subscriptions;
    bool m_stoppingAll = false;
    Account m_account;
    QNetworkAccessManager* m_network = nullptr; // see the constructor
};
