#include "model/TunnelStore.h"

#include "model/NamedTunnelSetup.h"
#include "model/SettingsKeys.h"
#include "model/TunnelName.h"

#include <QNetworkAccessManager>
#include <algorithm>

namespace {

// The saved list as bytes, whatever type the settings backend handed back.
std::optional<QByteArray> storedBytes(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    if (value.typeId() == QMetaType::QString)
        return value.toString().toUtf8();
    return std::nullopt;
}

} // namespace

TunnelStore::TunnelStore(QSettings* settings, TunnelInstance::Services services, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_services(std::move(services))
    , m_account(m_services.findClient) {
    // One for every tunnel's metrics asks, made when the first tunnel starts.
    if (!m_services.network)
        m_services.network = [this] {
            if (!m_network)
                m_network = new QNetworkAccessManager(this);
            return m_network;
        };
    loadTunnels();
    observeInstances();
}

TunnelStore::~TunnelStore() {
    // Instances are children of the store; their own teardown ends any child still running.
    for (const auto& connection : m_subscriptions)
        disconnect(connection);
}

TunnelInstance* TunnelStore::instance(const QUuid& id) const {
    const auto it =
        std::find_if(m_instances.begin(), m_instances.end(),
                     [&id](const TunnelInstance* instance) { return instance->id() == id; });
    return it == m_instances.end() ? nullptr : *it;
}

TunnelInstance* TunnelStore::makeInstance(const TunnelConfig& config) {
    auto* instance = new TunnelInstance(config, m_services, this);
    connect(instance, &TunnelInstance::childGone, this, &TunnelStore::checkAllStopped);
    // Every edit, from the window or the command line, is written through at once.
    connect(instance, &TunnelInstance::configChanged, this, &TunnelStore::saveTunnels);
    connect(instance, &TunnelInstance::accountAnswered, &m_account, &Account::noteAnswer);
    return instance;
}

void TunnelStore::loadTunnels() {
    const QVariant stored = m_settings->value(SettingsKeys::tunnelConfigs);
    if (stored.isValid()) {
        const auto bytes = storedBytes(stored);
        if (const auto configs = bytes ? decodeTunnelConfigs(*bytes) : std::nullopt) {
            for (const TunnelConfig& config : *configs)
                m_instances.push_back(makeInstance(config));
            return;
        }
        // Never lose a list we could not read: keep it aside before it is replaced.
        m_settings->setValue(SettingsKeys::tunnelConfigsUnreadable, stored);
    }

    bool isNumber = false;
    const qint64 legacyPort =
        m_settings->value(SettingsKeys::legacyTunnelPort).toLongLong(&isNumber);
    if (isNumber && legacyPort >= 1) {
        m_instances.push_back(
            makeInstance(TunnelConfig::create(TunnelName::defaultName(), legacyPort)));
        m_settings->remove(SettingsKeys::legacyTunnelPort);
    } else {
        m_instances.push_back(
            makeInstance(TunnelConfig::create(TunnelName::defaultName(), defaultPort)));
    }
    saveTunnels();
}

void TunnelStore::observeInstances() {
    for (const auto& connection : m_subscriptions)
        disconnect(connection);
    m_subscriptions.clear();
    m_subscriptions.reserve(m_instances.size());
    // Forwarded on a later turn of the event loop, never from inside the instance's change.
    for (TunnelInstance* instance : m_instances)
        m_subscriptions.push_back(connect(instance, &TunnelInstance::changed, this,
                                          &TunnelStore::changed, Qt::QueuedConnection));
}

void TunnelStore::saveTunnels() {
    QList<TunnelConfig> configs;
    configs.reserve(static_cast<qsizetype>(m_instances.size()));
    for (const TunnelInstance* instance : m_instances)
        configs.append(instance->config());
    m_settings->setValue(SettingsKeys::tunnelConfigs, encodeTunnelConfigs(configs));
    // Written through at once: a crash right after an edit must not lose it.
    m_settings->sync();
}

TunnelInstance* TunnelStore::addTunnel(const QString& name, qint64 port) {
    TunnelInstance* added = makeInstance(TunnelConfig::create(name, port));
    m_instances.push_back(added);
    observeInstances();
    emit instancesChanged();
    emit changed();
    saveTunnels();
    return added;
}

TunnelInstance* TunnelStore::tunnelToShare(qint64 port) {
    auto rank = [](const TunnelInstance& tunnel) {
        return tunnel.state() == TunnelInstance::State::Active ? 2 : tunnel.isRunning() ? 1 : 0;
    };
    TunnelInstance* chosen = nullptr;
    for (TunnelInstance* tunnel : m_instances) {
        if (tunnel->config().port == port && (!chosen || rank(*tunnel) > rank(*chosen)))
            chosen = tunnel;
    }
    return chosen ? chosen : addTunnel(TunnelName::forPort(port), port);
}

void TunnelStore::removeTunnel(const QUuid& id, bool deleteRemote) {
    const auto it =
        std::find_if(m_instances.begin(), m_instances.end(),
                     [&id](const TunnelInstance* instance) { return instance->id() == id; });
    if (it == m_instances.end())
        return;
    TunnelInstance* removed = *it;
    if (deleteRemote)
        this->deleteRemote(removed->id(), removed->config().name, removed->config().remote);
    m_instances.erase(it);
    observeInstances();
    // It stays our child until its process is gone, so quit still waits for it.
    removed->retire();
    emit instancesChanged();
    emit changed();
    saveTunnels();
}

void TunnelStore::deleteRemote(const QUuid& id, const QString& name, const QUuid& remote) {
    // `delete -f` ends the named tunnel's connections too; the child then ends by itself.
    auto* setup = new NamedTunnelSetup(m_services.findClient, this);
    connect(setup, &NamedTunnelSetup::finished, this,
            [this, setup, id, name](const AccountOutcome& outcome) {
                setup->deleteLater();
                m_account.noteAnswer(outcome);
                emit remoteDeleted(id, name, outcome);
            });
    setup->deleteRemote(id, remote);
}

bool TunnelStore::hasRunningTunnel() const {
    return std::any_of(m_instances.begin(), m_instances.end(),
                       [](const TunnelInstance* instance) { return instance->isRunning(); });
}

int TunnelStore::activeCount() const {
    return static_cast<int>(
        std::count_if(m_instances.begin(), m_instances.end(),
                      [](const TunnelInstance* instance) { return instance->isRunning(); }));
}

bool TunnelStore::hasLiveChildren() const {
    const auto all = findChildren<TunnelInstance*>(Qt::FindDirectChildrenOnly);
    return std::any_of(all.begin(), all.end(),
                       [](const TunnelInstance* instance) { return instance->hasChild(); });
}

void TunnelStore::stopAll() {
    m_stoppingAll = true;
    for (TunnelInstance* instance : findChildren<TunnelInstance*>(Qt::FindDirectChildrenOnly))
        instance->stop();
    checkAllStopped();
}

void TunnelStore::checkAllStopped() {
    if (m_stoppingAll && !hasLiveChildren()) {
        m_stoppingAll = false;
        emit allStopped();
    }
}
