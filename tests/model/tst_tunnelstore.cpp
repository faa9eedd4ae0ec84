// The tunnel list: loading (with migration and the default tunnel), saving to a real settings
// file, removing and forwarding changes, with scripted clients. Lists reloaded in order and
// Quit's wait for stubborn children are tst_faults'.
#include "ClientLines.h"
#include "ScriptedClient.h"
#include "TestSupport.h"
#include "model/SettingsKeys.h"
#include "model/TunnelStore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace ClientLines;
using namespace TestSupport;

class TestTunnelStore : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<QSettings> m_settings;
    ScriptedClients m_clients;

    std::unique_ptr<TunnelStore> openStore() {
        m_settings = m_home->settings();
        return std::make_unique<TunnelStore>(
            m_settings.get(), TunnelInstance::Services{.findClient = fakeClientLocator(),
                                                       .newClient = m_clients.factory()});
    }
    // The settings file as another reader sees it.
    QVariant saved(QAnyStringView key) const { return m_home->settings()->value(key); }
    void save(QAnyStringView key, const QVariant& value) {
        m_home->settings()->setValue(key, value);
    }
    QList<TunnelConfig> savedList() const {
        return decodeTunnelConfigs(saved(SettingsKeys::tunnelConfigs).toByteArray())
            .value_or(QList<TunnelConfig>{});
    }

private slots:
    void init() { m_home = std::make_unique<TempHome>(); }
    void cleanup() { m_settings.reset(), m_home.reset(); }

    // A launch without a readable list makes one tunnel, on the port of before the list where
    // there is one; an unreadable list is kept aside, and the next launch leaves it alone.
    void firstLaunch_data() {
        QTest::addColumn<QByteArray>("stored"); // "tunnelConfigs" before the launch; "": none
        QTest::addColumn<int>("legacy");        // "tunnelPort" before the launch; 0: none
        QTest::addColumn<int>("port");          // of the one tunnel made; 0: none is made
        auto row = [](const char* name, const char* stored, int legacy, int port) {
            QTest::newRow(name) << QByteArray(stored) << legacy << port;
        };
        row("nothing saved", "", 0, 8000);
        row("legacy port migrated once", "", 3000, 3000);
        row("legacy negative, kept", "", -5, 8000);
        row("record without port",
            "[{\"id\":\"5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11\",\"name\":\"a\"}]", 4000, 4000);
        row("not json", "{{{", 0, 8000);
        row("empty list, legacy port ignored", "[]", 3000, 0);
    }
    void firstLaunch() {
        QFETCH(QByteArray, stored);
        QFETCH(int, legacy);
        QFETCH(int, port);
        if (!stored.isEmpty())
            save(SettingsKeys::tunnelConfigs, stored);
        if (legacy)
            save(SettingsKeys::legacyTunnelPort, legacy);
        for (int launch = 0; launch < 2; ++launch) {
            auto tunnels = openStore();
            QList<TunnelConfig> configs;
            for (const TunnelInstance* instance : tunnels->instances())
                configs << instance->config();
            QCOMPARE(configs.size(), port ? 1 : 0);
            QVERIFY(!port ||
                    (configs[0].name == QStringLiteral("Tunnel") && configs[0].port == port));
            tunnels.reset();
            QCOMPARE(savedList(), configs);
            QCOMPARE(saved(SettingsKeys::legacyTunnelPort).isValid(), legacy && legacy != port);
            // An empty list was read: nothing is kept aside.
            QCOMPARE(saved(SettingsKeys::tunnelConfigsUnreadable).toString(),
                     port ? QString(stored) : QString());
        }
    }

    // Changes reach the store later on the event loop and are saved; a removed instance is
    // stopped and no longer speaks for the store.
    void changesAndRemoval() {
        auto tunnels = openStore();
        TunnelInstance* added = tunnels->addTunnel(QStringLiteral("Added"), 3000);
        QSignalSpy storeChanges(tunnels.get(), &TunnelStore::changed);
        added->setName(QStringLiteral("Renamed"));
        QCOMPARE(storeChanges.size(), 0); // queued, not delivered from inside the change
        QTRY_COMPARE(storeChanges.size(), 1);
        QTRY_COMPARE(savedList().back().name, QStringLiteral("Renamed"));

        added->start();
        const QPointer<ScriptedClient> client = m_clients.latest();
        client->print(urlBox + at(registered)); // counted: tst_statusmenu's header count
        QTRY_VERIFY(storeChanges.size() >= 3);  // running, connecting, active

        tunnels->removeTunnel(QUuid::createUuid()); // unknown: nothing happens
        QCOMPARE(tunnels->instances().size(), size_t(2));
        client->ignoreStop = true; // it ends below, once the store has settled
        tunnels->removeTunnel(added->id());
        QCOMPARE(client->stopsAsked, 1);
        QCOMPARE(savedList(), QList<TunnelConfig>{tunnels->instances().front()->config()});
        QCoreApplication::processEvents();
        storeChanges.clear();
        client->exit(15);
        QTRY_VERIFY(!client); // its instance goes with it
        QVERIFY(!tunnels->hasRunningTunnel() && tunnels->activeCount() == 0);
        QCOMPARE(storeChanges.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTunnelStore)
#include "tst_tunnelstore.moc"
