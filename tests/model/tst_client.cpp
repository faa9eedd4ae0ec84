// Which client runs, and how: its version read without waiting, a client too old refused, and
// the command line that keeps the quick tunnel ours (no self-update, no user configuration),
// with the stand-in client as each generation and a temporary home.
#include "TestSupport.h"
#include "model/ClientVersion.h"
#include "model/TunnelInstance.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTest>

using namespace TestSupport;

namespace {

// A local server that accepts connections, so that no tunnel here has a problem of its own.
struct Origin {
    QTcpServer server;
    qint64 port = (server.listen(QHostAddress::LocalHost), server.serverPort());
};

} // namespace

class TestClient : public QObject {
    Q_OBJECT

private slots:
    void init() {
        for (const char* name :
             {"FAKE_CF_VERSION", "FAKE_CF_MODE", "FAKE_CF_INTERVAL_MS", "FAKE_CF_SERVES"})
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

    void tooOldClientIsNotStarted_data() {
        QTest::addColumn<QByteArray>("generation");
        QTest::addColumn<QString>("problem");
        QTest::newRow("2021.8.3") << QByteArray("2021.8.3")
                                  << "cloudflared 2021.8.3 is too old for quick tunnels; update it "
                                     "to 2021.8.4 or newer";
        // Their registrations, as they word them, make the tunnel active.
        QTest::newRow("2022") << QByteArray("2022") << QString();
        QTest::newRow("2023.2") << QByteArray("2023.2") << QString();
    }

    void tooOldClientIsNotStarted() {
        QFETCH(QByteArray, generation);
        QFETCH(QString, problem);
        qputenv("FAKE_CF_VERSION", generation);
        ClientVersion client(fakeClientLocator());
        client.refresh();
        QTRY_VERIFY(!client.version().isEmpty());
        Origin origin;
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), origin.port),
                              {.findClient = fakeClientLocator(), .clientVersion = &client});
        tunnel.start();
        QCOMPARE(tunnel.isRunning(), problem.isEmpty());
        if (problem.isEmpty())
            QTRY_COMPARE(tunnel.state(), TunnelInstance::State::Active);
        QCOMPARE(tunnel.problem(), problem);
        tunnel.stop();
        QTRY_VERIFY(!tunnel.hasChild());
    }

    // The user's own configuration, for a named tunnel, would serve its ingress rules instead
    // of the local server; and a client installed by download would replace itself and end.
    void tunnelServesTheLocalServer_data() {
        QTest::addColumn<QString>("userConfig"); // relative to the home
        QTest::newRow("no configuration") << QString();
        for (const char* folder : {".cloudflared", ".cloudflare-warp", "cloudflare-warp"}) {
            for (const char* name : {"config.yml", "config.yaml"}) {
                const QString file = QStringLiteral("%1/%2").arg(folder, name);
                QTest::newRow(qPrintable(file)) << file;
            }
        }
    }

    void tunnelServesTheLocalServer() {
        QFETCH(QString, userConfig);
        TempHome home;
        if (!userConfig.isEmpty()) {
            QVERIFY(QDir(home.path()).mkpath(QFileInfo(userConfig).path()));
            QFile file(home.path() + QLatin1Char('/') + userConfig);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("tunnel: 6ff42ae2-765d-4adf-8112-31c55c1551ef\n"
                       "credentials-file: /root/.cloudflared/6ff42ae2.json\n"
                       "ingress:\n"
                       "  - hostname: app.example.com\n"
                       "    service: http://localhost:8080\n"
                       "  - service: http_status:404\n");
        }
        const QString serves = home.path() + QStringLiteral("/serves");
        qputenv("FAKE_CF_SERVES", serves.toLocal8Bit());
        qputenv("FAKE_CF_VERSION", "2026");
        qputenv("FAKE_CF_MODE", "autoupdate"); // due at once
        qputenv("FAKE_CF_INTERVAL_MS", "0");
        Origin origin;
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("T"), origin.port),
                              {fakeClientLocator()});
        tunnel.start();
        QTRY_COMPARE(tunnel.state(), TunnelInstance::State::Active);
        QFile served(serves);
        QVERIFY(served.open(QIODevice::ReadOnly));
        // The gateway in front of the local server, never the user's own rules.
        QCOMPARE(served.readAll(),
                 "http://127.0.0.1:" + QByteArray::number(tunnel.inspector()->port()) + '\n');
        QCOMPARE(tunnel.problem(), QString()); // its empty configuration is no problem
        tunnel.stop();
        QTRY_VERIFY(!tunnel.hasChild());
    }
};

QTEST_GUILESS_MAIN(TestClient)
#include "tst_client.moc"
