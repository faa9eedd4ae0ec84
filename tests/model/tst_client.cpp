// Which client runs and how: its version read without waiting, once per executable, a client
// too old refused, with the stand-in client as each generation; the real child's command line,
// its standard output never read, and Stop ending it.
#include "ScriptedClient.h"
#include "TestSupport.h"
#include "model/ClientVersion.h"
#include "model/TunnelInstance.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace TestSupport;

class TestClient : public QObject {
    Q_OBJECT

private slots:
    void init() {
        qunsetenv("FAKE_CF_VERSION");
        qunsetenv("FAKE_CF_STDOUT_MIB");
    }

    void versionIsReadOncePerExecutable_data() {
        QTest::addColumn<QByteArray>("generation");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("tooOld");
        QTest::newRow("2026") << QByteArray("2026") << "2026.8.2" << false;
        QTest::newRow("2021.10.0, months compared as numbers")
            << QByteArray("2021.10.0") << "2021.10.0" << false;
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

    // The command line keeps the quick tunnel ours (no self-update, no user configuration,
    // always the gateway); 64 MiB on standard output does not block it on the way to the URL.
    void realChild() {
        qputenv("FAKE_CF_STDOUT_MIB", "64");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), 3000),
                              {fakeClientLocator()});
        tunnel.start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.state(), TunnelInstance::State::Active, 15000);
        const qint64 pid = tunnel.childPid();
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QVERIFY(cmdline.open(QIODevice::ReadOnly));
        QCOMPARE(cmdline.readAll().replace('\0', ' '),
                 fakeClientPath().toLocal8Bit() + " tunnel --no-autoupdate --config /dev/null " +
                     "--url http://127.0.0.1:" + QByteArray::number(tunnel.gateway()->port()) +
                     " --metrics 127.0.0.1:" + QByteArray::number(tunnel.metrics()->port()) + ' ');
        QSignalSpy gone(&tunnel, &TunnelInstance::childGone);
        tunnel.stop();
        QVERIFY(gone.wait(15000));
        QVERIFY(!processAlive(pid) && !tunnel.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestClient)
#include "tst_client.moc"
