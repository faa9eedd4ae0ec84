// Which client runs and how: its version read without waiting, once per executable, a client
// too old refused, with the stand-in client as each generation; the real child's command line,
// its standard output never read, and Stop ending it. Its metrics server as the tunnel's second
// witness beside its log, on real sockets, two tunnels at once on ports of their own. What each
// log line means is tst_clientlog's.
#include "ClientLines.h"
#include "ScriptedClient.h"
#include "TestSupport.h"
#include "model/ClientVersion.h"
#include "model/TunnelInstance.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace TestSupport;
using State = TunnelInstance::State;

class TestClient : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (const char* name : {"FAKE_CF_VERSION", "FAKE_CF_STDOUT_MIB", "FAKE_CF_WORDING",
                                 "FAKE_CF_MODE", "FAKE_CF_METRICS", "FAKE_CF_BOX"})
            qunsetenv(name);
        qputenv("FAKE_CF_INTERVAL_MS", "200");
    }

    void versionIsReadOncePerExecutable_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("tooOld");
        QTest::newRow("2026") << "2026.8.2" << false;
        QTest::newRow("2021.10.0, months compared as numbers") << "2021.10.0" << false;
        QTest::newRow("2021.8.4, first with the URL box") << "2021.8.4" << false;
        QTest::newRow("2021.8.3") << "2021.8.3" << true;
    }

    void versionIsReadOncePerExecutable() {
        QFETCH(QString, version);
        QFETCH(bool, tooOld);
        // A copy of its own, whose modification time the test may change.
        TempHome home;
        const QString path = home.path() + QStringLiteral("/cloudflared");
        QVERIFY(QFile::copy(fakeClientPath(), path));
        qputenv("FAKE_CF_VERSION", version.toLatin1());
        const ClientLocator locator = [path] { return std::optional<QString>(path); };
        ClientVersion client(locator);
        client.refresh();
        QCOMPARE(client.path(), path);
        QCOMPARE(client.version(), QString()); // being read: nobody waits for it
        QTRY_COMPARE(client.version(), version);
        QCOMPARE(ClientVersion::readNow(path), version);
        // A client too old is not started.
        ScriptedClients clients;
        TunnelInstance tunnel(
            TunnelConfig::create(QStringLiteral("T"), 3000),
            {.findClient = locator, .clientVersion = &client, .newClient = clients.factory()});
        tunnel.start();
        QCOMPARE(clients.count(), tooOld ? 0 : 1);
        QVERIFY(!tooOld || tunnel.problem() ==
                               "cloudflared " + version +
                                   " is too old for quick tunnels; update it to 2021.8.4 or newer");

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

    // What either witness alone tells; a metrics address taken before the client binds it
    // (rows with a version) ends the client at once, and the tunnel launches it again on another
    // port without a word; 64 MiB on standard output do not block it on the way to the URL. The
    // real child's command line keeps the quick tunnel ours (no self-update, no user
    // configuration, always the gateway), and Stop ends it.
    void witnessBesideTheLog_data() {
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<State>("state");
        QTest::addColumn<int>("connections"); // -1: unknown
        auto row = [](const char* name, const char* env, State state, int connections) {
            QTest::newRow(name) << QByteArray(env) << state << connections;
        };
        row("registration worded anew", "FAKE_CF_WORDING=unknown", State::Active, 1);
        row("connections gone, no line", "FAKE_CF_MODE=vanish", State::Reconnecting, 0);
        row("no metrics server: the log alone", "FAKE_CF_METRICS=off", State::Active, -1);
        row("box in a new layout", "FAKE_CF_BOX=unknown", State::Active, 1);
        row("address taken, 2026: failed to bind", "FAKE_CF_VERSION=2026.8.2", State::Active, 1);
        row("address taken, 2023.7: listen tcp", "FAKE_CF_VERSION=2023.7.3", State::Active, 1);
        row("64 MiB on standard output", "FAKE_CF_STDOUT_MIB=64", State::Active, 1);
    }
    void witnessBesideTheLog() {
        QFETCH(QByteArray, env);
        QFETCH(State, state);
        QFETCH(int, connections);
        qputenv(env.split('=')[0], env.split('=')[1]);
        const TunnelServices services{.findClient = fakeClientLocator(),
                                      .metricsTiming = {.pollMs = 200, .gapMs = 0, .blipMs = 500}};
        QTcpServer origin; // no problem to tell about the local server
        QVERIFY(origin.listen(QHostAddress::LocalHost));
        TunnelInstance a(TunnelConfig::create("A", origin.serverPort()), services),
            b(TunnelConfig::create("B", origin.serverPort()), services);
        QSignalSpy ended(&a, &TunnelInstance::endedUnexpectedly);
        a.start();
        const quint16 first = a.metrics()->port();
        QTcpServer taken; // the child binds it only once its tunnel exists
        QVERIFY(!env.contains("VERSION") || taken.listen(QHostAddress::LocalHost, first));
        b.start();
        QVERIFY(b.metrics()->port() != first);
        for (TunnelInstance* t : {&a, &b}) {
            QTRY_COMPARE_WITH_TIMEOUT(t->state(), state, 15000);
            QTRY_COMPARE(t->connections().value_or(-1), connections);
            QCOMPARE(t->tunnelURLText(), ClientLines::url);
            QCOMPARE(t->problem(), QString());
        }
        QCOMPARE(a.metrics()->port() != first, taken.isListening());
        QVERIFY(ended.isEmpty());
        const qint64 pid = a.childPid();
        // The stand-in is a script: the kernel puts its interpreter first.
        QCOMPARE(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).replace('\0', ' '),
                 "/usr/bin/python3 " + fakeClientPath().toLocal8Bit() +
                     " tunnel --no-autoupdate --config /dev/null " +
                     "--url http://127.0.0.1:" + QByteArray::number(a.gateway()->port()) +
                     " --metrics 127.0.0.1:" + QByteArray::number(a.metrics()->port()) + ' ');
        QSignalSpy gone(&a, &TunnelInstance::childGone);
        a.stop();
        QVERIFY(gone.wait(15000));
        QVERIFY(!processAlive(pid) && !a.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestClient)
#include "tst_client.moc"
