// The tunnel list: loading (with migration and the default tunnel), saving to a real settings
// file, adding, removing, forwarding changes and stopping everything for quit.
#include "TestSupport.h"
#include "model/SettingsKeys.h"
#include "model/TunnelStore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace TestSupport;

namespace {

constexpr int slow = 15000;

QList<TunnelConfig> savedList(const QString& path) {
    QSettings settings(path, QSettings::IniFormat);
    return decodeTunnelConfigs(settings.value(SettingsKeys::tunnelConfigs).toByteArray())
        .value_or(QList<TunnelConfig>{});
}

QList<TunnelConfig> configsOf(const TunnelStore& store) {
    QList<TunnelConfig> configs;
    for (const TunnelInstance* instance : store.instances())
        configs << instance->config();
    return configs;
}

} // namespace

class TestTunnelStore : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<QSettings> m_settings;

    std::unique_ptr<TunnelStore> openStore() {
        m_settings = m_home->settings();
        return std::make_unique<TunnelStore>(m_settings.get(),
                                             TunnelInstance::Services{fakeClientLocator()});
    }

    void store(const char* key, const QVariant& value) {
        QSettings settings(m_home->settingsPath(), QSettings::IniFormat);
        settings.setValue(QLatin1String(key), value);
    }

private slots:
    void init() {
        qunsetenv("FAKE_CF_MODE");
        qunsetenv("FAKE_CF_IGNORE_TERM");
        m_home = std::make_unique<TempHome>();
    }
    void cleanup() {
        m_settings.reset();
        m_home.reset();
    }

    void firstLaunchAndLegacyMigration_data() {
        QTest::addColumn<QVariant>("legacy"); // "tunnelPort" before the launch
        QTest::addColumn<qint64>("port");     // of the one tunnel made
        QTest::addColumn<bool>("legacyKept");
        QTest::newRow("nothing saved") << QVariant() << qint64(8000) << false;
        QTest::newRow("legacy port migrated once") << QVariant(3000) << qint64(3000) << false;
        QTest::newRow("legacy zero") << QVariant(0) << qint64(8000) << true;
        QTest::newRow("legacy negative") << QVariant(-5) << qint64(8000) << true;
    }
    void firstLaunchAndLegacyMigration() {
        QFETCH(QVariant, legacy);
        QFETCH(qint64, port);
        QFETCH(bool, legacyKept);
        if (legacy.isValid())
            store("tunnelPort", legacy);
        auto tunnels = openStore();
        QCOMPARE(tunnels->instances().size(), size_t(1));
        const TunnelConfig config = tunnels->instances().front()->config();
        QCOMPARE(config.name, QStringLiteral("Tunnel"));
        QCOMPARE(config.port, port);
        QCOMPARE(savedList(m_home->settingsPath()), QList<TunnelConfig>{config});
        QSettings after(m_home->settingsPath(), QSettings::IniFormat);
        QCOMPARE(after.contains(QStringLiteral("tunnelPort")), legacyKept);
    }

    void emptySavedListStaysEmpty() {
        store("tunnelConfigs", QByteArray("[]"));
        store("tunnelPort", 3000);
        const QByteArray before = [this] {
            QFile f(m_home->settingsPath());
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        auto tunnels = openStore();
        QVERIFY(tunnels->instances().empty());
        QFile f(m_home->settingsPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before); // nothing written, "tunnelPort" ignored
    }

    void unreadableListIsKeptAsideNeverLost_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("record without port") << QVariant(
            QByteArray("[{\"id\":\"5B4E2E1C-6A43-4F77-9D0B-3C2F7A9E8D11\",\"name\":\"a\"}]"));
        QTest::newRow("not json") << QVariant(QByteArray("{{{"));
        QTest::newRow("a number") << QVariant(42);
    }
    void unreadableListIsKeptAsideNeverLost() {
        QFETCH(QVariant, stored);
        store("tunnelConfigs", stored);
        store("tunnelPort", 4000);
        {
            auto tunnels = openStore();
            QCOMPARE(tunnels->instances().size(), size_t(1));
            QCOMPARE(tunnels->instances().front()->config().port, qint64(4000));
        }
        QSettings after(m_home->settingsPath(), QSettings::IniFormat);
        QCOMPARE(after.value(SettingsKeys::tunnelConfigsUnreadable).toString(), stored.toString());
        QCOMPARE(savedList(m_home->settingsPath()).size(), 1);

        // The next launch reads the good list and leaves the backup alone.
        auto again = openStore();
        QCOMPARE(again->instances().front()->config().port, qint64(4000));
        QCOMPARE(QSettings(m_home->settingsPath(), QSettings::IniFormat)
                     .value(SettingsKeys::tunnelConfigsUnreadable)
                     .toString(),
                 stored.toString());
    }

    void listSurvivesARestartInOrderAllStopped() {
        QList<TunnelConfig> before;
        {
            auto tunnels = openStore();
            tunnels->addTunnel(QStringLiteral("Web"), 3000);
            tunnels->addTunnel(QStringLiteral("Web"), 3000); // duplicates are allowed
            tunnels->addTunnel(QStringLiteral("Ünïcode ✓"), 5173);
            tunnels->instances().front()->start();
            before = configsOf(*tunnels);
            QCOMPARE(before.size(), 4);
        }
        auto again = openStore();
        QCOMPARE(configsOf(*again), before);
        for (const TunnelInstance* instance : again->instances())
            QVERIFY(!instance->isRunning());
    }

    void removingARunningTunnelStopsItAndForgetsIt() {
        auto tunnels = openStore();
        tunnels->addTunnel(QStringLiteral("Second"), 3000);
        TunnelInstance* first = tunnels->instances().front();
        const QUuid keep = tunnels->instances().back()->id();
        first->start();
        QTRY_VERIFY_WITH_TIMEOUT(first->tunnelURL(), slow);
        const qint64 pid = first->childPid();

        tunnels->removeTunnel(QUuid::createUuid()); // unknown: nothing happens
        QCOMPARE(tunnels->instances().size(), size_t(2));

        tunnels->removeTunnel(first->id());
        QCOMPARE(tunnels->instances().size(), size_t(1));
        QCOMPARE(tunnels->instances().front()->id(), keep);
        QCOMPARE(savedList(m_home->settingsPath()).size(), 1);
        QCOMPARE(savedList(m_home->settingsPath()).front().id, keep);
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), slow);
    }

    void instanceChangesReachTheStoreLaterOnTheEventLoop() {
        auto tunnels = openStore();
        tunnels->addTunnel(QStringLiteral("Added"), 3000);
        TunnelInstance* added = tunnels->instances().back();
        QSignalSpy storeChanges(tunnels.get(), &TunnelStore::changed);

        added->setName(QStringLiteral("Renamed"));
        QCOMPARE(storeChanges.size(), 0); // queued, not delivered from inside the change
        QTRY_COMPARE(storeChanges.size(), 1);

        added->start();
        QTRY_VERIFY(tunnels->hasRunningTunnel());
        QCOMPARE(tunnels->activeCount(), 1);
        QTRY_VERIFY(storeChanges.size() >= 3); // running, connecting
        QTRY_VERIFY_WITH_TIMEOUT(added->tunnelURL(), slow);

        // A removed instance no longer speaks for the store.
        tunnels->removeTunnel(added->id());
        QCoreApplication::processEvents();
        storeChanges.clear();
        QTest::qWait(300);
        QVERIFY(!tunnels->hasRunningTunnel());
        QCOMPARE(tunnels->activeCount(), 0);
        QCOMPARE(storeChanges.size(), 0);
    }

    void stopAllReportsWhenEveryChildIsGone() {
        qputenv("FAKE_CF_IGNORE_TERM", "1");
        auto tunnels = openStore();
        tunnels->addTunnel(QStringLiteral("B"), 3001);
        tunnels->addTunnel(QStringLiteral("C"), 3002);
        QList<qint64> pids;
        for (TunnelInstance* instance : tunnels->instances()) {
            instance->start();
            pids << instance->childPid();
        }
        // One tunnel already removed but still stopping counts too.
        tunnels->removeTunnel(tunnels->instances().back()->id());
        QSignalSpy allStopped(tunnels.get(), &TunnelStore::allStopped);
        tunnels->stopAll();
        QCOMPARE(allStopped.size(), 0);
        QVERIFY(tunnels->hasLiveChildren());
        QVERIFY(allStopped.wait(TunnelInstance::killGraceMs + slow));
        for (qint64 pid : pids)
            QVERIFY(!processAlive(pid));
        QVERIFY(!tunnels->hasLiveChildren());

        tunnels->stopAll(); // nothing left: reported at once
        QCOMPARE(allStopped.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestTunnelStore)
#include "tst_tunnelstore.moc"
