// Which client runs and how: its version read without waiting, once per executable, a client
// too old refused, with the stand-in client as each generation; the real child's command line,
// its standard output never read, and Stop ending it.
#include "TestSupport.h"
#include "model/ClientVersion.h"
#include "model/TunnelInstance.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace TestSupport;

class TestClient : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (const char* name : {"FAKE_CF_VERSION", "FAKE_CF_STDOUT_MIB", "FAKE_CF_WORDING",
                                 "FAKE_CF_MODE", "FAKE_CF_METRICS", "FAKE_CF_BOX"})
            qunsetenv(name);
    }

    void versionIsReadOncePerExecutable_data() {
        QTest::addColumn<QByteArray>("generation");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("tooOld");
        QTest::newRow("2022") << QByteArray("2022") << "2022.10.3" << false;
        QTest::newRow("2023.2") << QByteArray("2023.2") << "2023.2.1" << false;
        QTest::newRow("2023.7") << QByteArray("2023.7") << "2023.7.3" << false;
        QTest::newRow("2026") << QByteArray("2026") << "2026.8.2" << false;
        QTest::newRow("2021.8.4, first with the URL box")
            << QByteArray("2021.8.4") << "2021.8.4" << false;
        QTest::newRow("2021.8.3") << QByteArray("2021.8.3") << "2021.8.3" << true;
    }

    void versionIsReadOncePerExecutable() {
        QFETCH(QByteArray, generation);
        QFETCH(QString, version);
        QFETCH(bool, tooOld);
        // A copy of its own, whose modification time the test may change.
        TempHome home;
        const QString path = home.path() + QStringLiteral("/cloudflared");
        QVERIFY(QFile::copy(fakeClientPath(), path));
        qputenv("FAKE_CF_VERSION", generation);
        ClientVersion client([path] { return std::optional<QString>(path); });
        client.refresh();
        QCOMPARE(client.path(), path);
        QCOMPARE(client.version(), QString()); // being read: nobody waits for it
        QTRY_COMPARE(client.version(), version);
        QCOMPARE(ClientVersion::isTooOld(version), tooOld);
        QCOMPARE(ClientVersion::readNow(path), version);

        // The same executable is not asked again; a replaced one is.
        qputenv("FAKE_CF_VERSION", "2026.9.0");
        client.refresh();
        QVERIFY(!client.isReading());
        QCOMPARE(client.version(), version);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(file.fileTime(QFileDevice::FileModificationTime).addSecs(60),
                                 QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(client.versionOf(path), QString());
        QVERIFY(client.isReading());
        QTRY_COMPARE(client.version(), QStringLiteral("2026.9.0"));
    }

    // Registrations as each generation words them are tst_clientlog's.
    void tooOldClientIsNotStarted() {
        qputenv("FAKE_CF_VERSION", "2021.8.3");
        ClientVersion client(fakeClientLocator());
        client.refresh();
        QTRY_VERIFY(!client.version().isEmpty());
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), 3000),
                              {.findClient = fakeClientLocator(), .clientVersion = &client});
        tunnel.start();
        QVERIFY(!tunnel.hasChild());
        QCOMPARE(tunnel.problem(), QStringLiteral("cloudflared 2021.8.3 is too old for quick "
                                                  "tunnels; update it to 2021.8.4 or newer"));
    }

    // The command line keeps the quick tunnel ours (no self-update, no user configuration,
    // always the gateway); 64 MiB on standard output does not block it on the way to the URL.
    void realChild() {
        qputenv("FAKE_CF_STDOUT_MIB", "64");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), 3000),
                              {fakeClientLocator()});
        tunnel.start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.state(), TunnelInstance::State::Active, 15000);
        const qint64 pid = tunnel.childPid();
        QCOMPARE(processCommandLine(pid),
                 fakeClientPath() + QStringLiteral(" tunnel --no-autoupdate --config /dev/null "
                                                   "--url http://127.0.0.1:%1 --metrics "
                                                   "127.0.0.1:%2")
                                        .arg(tunnel.gateway()->port())
                                        .arg(tunnel.metrics()->port()));
        QSignalSpy gone(&tunnel, &TunnelInstance::childGone);
        tunnel.stop();
        QVERIFY(gone.wait(15000));
        QVERIFY(!processAlive(pid) && !tunnel.isRunning());
    }

    // The client's metrics server beside its log, two tunnels at once on ports of their own:
    // what either witness alone tells, and a metrics address taken before the client binds it.
    void metricsBesideTheLog_data() {
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<TunnelInstance::State>("state");
        QTest::addColumn<int>("connections"); // -1: unknown
        using enum TunnelInstance::State;
        auto row = [](const char* name, const char* env, TunnelInstance::State state, int n) {
            QTest::newRow(name) << QByteArray(env) << state << n;
        };
        row("registration worded anew", "FAKE_CF_WORDING=unknown", Active, 1);
        row("connections gone, no line", "FAKE_CF_MODE=vanish", Reconnecting, 0);
        row("no metrics server", "FAKE_CF_METRICS=off", Active, -1);
        row("box in a new layout", "FAKE_CF_BOX=unknown", Active, 1);
        row("metrics address taken", "", Active, 1);
    }
    void metricsBesideTheLog() {
        QFETCH(QByteArray, env);
        QFETCH(TunnelInstance::State, state);
        QFETCH(int, connections);
        if (!env.isEmpty())
            qputenv(env.split('=')[0], env.split('=')[1]);
        qputenv("FAKE_CF_INTERVAL_MS", "200");
        const TunnelServices services{.findClient = fakeClientLocator(),
                                      .metricsTiming = {.pollMs = 200, .gapMs = 0, .blipMs = 500}};
        TunnelInstance a(TunnelConfig::create("A", 3000), services),
            b(TunnelConfig::create("B", 3001), services);
        QSignalSpy ended(&a, &TunnelInstance::endedUnexpectedly);
        a.start();
        const quint16 first = a.metrics()->port();
        QTcpServer taken; // before the child binds it, once its tunnel exists
        QVERIFY(!env.isEmpty() || taken.listen(QHostAddress::LocalHost, first));
        b.start();
        QVERIFY(b.metrics()->port() != first);
        for (TunnelInstance* t : {&a, &b}) {
            QTRY_COMPARE_WITH_TIMEOUT(t->state(), state, 15000);
            QTRY_COMPARE(t->connections().value_or(-1), connections);
            QCOMPARE(t->tunnelURLText(),
                     QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com"));
            QCOMPARE(t->problem(), QString());
        }
        QCOMPARE(a.metrics()->port() != first, taken.isListening()); // launched again, unseen
        QVERIFY(ended.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestClient)
#include "tst_client.moc"
