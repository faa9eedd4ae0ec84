// A tunnel's life with real child processes (the stand-in client) and a real notification
// daemon on a session bus of the test's own.
#include "TestSupport.h"
#include "model/TunnelInstance.h"
#include "platform/FreedesktopNotifier.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>

using namespace TestSupport;

namespace {

const QString fakeUrl = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");
constexpr int slow = 15000; // generous: process start-up on a loaded machine

const char* const fakeVariables[] = {
    "FAKE_CF_MODE",  "FAKE_CF_IGNORE_TERM", "FAKE_CF_EXIT_STATUS", "FAKE_CF_STDOUT_MIB",
    "FAKE_CF_LABEL", "FAKE_CF_FLOOD_MIB",   "FAKE_CF_PAUSE_MS"};

} // namespace

class TestTunnelInstance : public QObject {
    Q_OBJECT

    FreedesktopNotifier m_notifier;
    QList<ShownNotification> m_seen;

    TunnelInstance::Services services(ClientLocator locator = fakeClientLocator()) {
        return {std::move(locator), &m_notifier};
    }

    // Everything the daemon has shown since the last call.
    QList<ShownNotification> notifications(int atLeast, int waitMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        do {
            m_seen += takeNotifications();
            if (m_seen.size() >= atLeast)
                break;
            QTest::qWait(50);
        } while (timer.elapsed() < waitMs);
        return std::exchange(m_seen, {});
    }

    static void waitStopped(TunnelInstance& tunnel) {
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel.isRunning(), slow);
    }

private slots:
    void initTestCase() {
        QVERIFY2(notificationDaemonRunning(),
                 "run inside scripts/desktop-session.sh --notifications");
        QTRY_VERIFY(TestSupport::notificationDaemonRunning());
    }

    void init() {
        for (const char* name : fakeVariables)
            qunsetenv(name);
        takeNotifications();
        m_seen.clear();
    }

    void startConnectsThenPublishesTheUrl() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Web"), 3000), services());
        QSignalSpy changes(&tunnel, &TunnelInstance::changed);
        tunnel.start();
        QVERIFY(tunnel.isRunning());
        QVERIFY(tunnel.isConnecting());
        QVERIFY(!tunnel.tunnelURL());
        const qint64 pid = tunnel.childPid();
        // Read until the exec has settled: /proc shows no command line in between.
        QTRY_COMPARE(processCommandLine(pid),
                     fakeClientPath() + QStringLiteral(" tunnel --url http://127.0.0.1:3000"));

        tunnel.start(); // already running: nothing happens
        QCOMPARE(tunnel.childPid(), pid);

        QTRY_COMPARE_WITH_TIMEOUT(tunnel.tunnelURLText(), fakeUrl, slow);
        QVERIFY(!tunnel.isConnecting());
        QVERIFY(tunnel.isRunning());
        QVERIFY(changes.size() >= 4);

        const auto shown = notifications(1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].summary, QStringLiteral("'Web' Active"));
        QCOMPARE(shown[0].body, fakeUrl);

        tunnel.stop();
        QVERIFY(!tunnel.tunnelURL()); // cleared at once
        QVERIFY(tunnel.isRunning());  // until the exit has been handled
        waitStopped(tunnel);
        QVERIFY(!tunnel.isConnecting());
        QVERIFY(!processAlive(pid));
        QCOMPARE(notifications(1, 500).size(), 0); // a requested stop is no crash
    }

    void missingClientIsASilentNoOp() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Web"), 3000),
                              services(missingClientLocator()));
        QSignalSpy changes(&tunnel, &TunnelInstance::changed);
        tunnel.start();
        QVERIFY(!tunnel.isRunning());
        QVERIFY(!tunnel.hasChild());
        QCOMPARE(changes.size(), 0);
        QCOMPARE(notifications(1, 500).size(), 0);
    }

    void serviceUnreachableIsACrashNotAnActiveTunnel() {
        qputenv("FAKE_CF_MODE", "api-failure");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Api"), 3000), services());
        QSignalSpy urls(&tunnel, &TunnelInstance::tunnelURLChanged);
        tunnel.start();
        waitStopped(tunnel);
        QCOMPARE(urls.size(), 0);
        const auto shown = notifications(1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].summary, QStringLiteral("'Api' Stopped"));
        QCOMPARE(shown[0].body, QStringLiteral("Tunnel crashed (exit code: 1)"));
    }

    void urlSplitAcrossReadsIsFound_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("URL line in two writes") << QByteArray("split");
        QTest::newRow("multi-byte character in two writes") << QByteArray("split-utf8");
    }

    void urlSplitAcrossReadsIsFound() {
        QFETCH(QByteArray, mode);
        qputenv("FAKE_CF_MODE", mode);
        qputenv("FAKE_CF_PAUSE_MS", "300");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Split"), 3000), services());
        tunnel.start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.tunnelURLText(), fakeUrl, slow);
        tunnel.stop();
        waitStopped(tunnel);
    }

    void exitStatusDecidesAboutTheCrashNotice_data() {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QString>("crashBody");
        QTest::newRow("0: a normal end") << QByteArray("0") << QString();
        QTest::newRow("15: terminated") << QByteArray("15") << QString();
        QTest::newRow("3: crashed")
            << QByteArray("3") << QStringLiteral("Tunnel crashed (exit code: 3)");
    }

    void exitStatusDecidesAboutTheCrashNotice() {
        QFETCH(QByteArray, status);
        QFETCH(QString, crashBody);
        qputenv("FAKE_CF_MODE", "exit");
        qputenv("FAKE_CF_EXIT_STATUS", status);
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Exit"), 3000), services());
        tunnel.start();
        waitStopped(tunnel);
        QVERIFY(!tunnel.tunnelURL());
        const auto shown =
            notifications(crashBody.isEmpty() ? 1 : 2, crashBody.isEmpty() ? 1000 : 5000);
        QStringList bodies;
        for (const auto& n : shown)
            bodies << n.body;
        QStringList expected{fakeUrl};
        if (!crashBody.isEmpty())
            expected << crashBody;
        QCOMPARE(bodies, expected);
    }

    void childKilledFromOutsideReportsTheSignal() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Old name"), 3000), services());
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        // The name at the time of the event is the one shown.
        tunnel.setName(QStringLiteral("New <b>name</b>"));
        ::kill(static_cast<pid_t>(tunnel.childPid()), SIGKILL);
        waitStopped(tunnel);
        const auto shown = notifications(2);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].summary, QStringLiteral("'New <b>name</b>' Stopped"));
        QCOMPARE(shown[1].body, QStringLiteral("Tunnel crashed (exit code: 9)"));
    }

    void childIgnoringTerminateIsKilledAfterTheGracePeriod() {
        qputenv("FAKE_CF_IGNORE_TERM", "1");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Stubborn"), 3000), services());
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        const qint64 pid = tunnel.childPid();
        QElapsedTimer elapsed;
        elapsed.start();
        tunnel.stop();
        waitStopped(tunnel);
        QVERIFY(elapsed.elapsed() >= TunnelInstance::killGraceMs);
        QVERIFY(!processAlive(pid));
        // Our own kill after a stop request is no crash: only the Active notice was shown.
        QCOMPARE(notifications(2, 1000).size(), 1);
    }

    void portChangeRestartsOnTheNewPort_data() {
        QTest::addColumn<bool>("slowExit");
        QTest::newRow("child exits at once") << false;
        QTest::newRow("child takes longer than the restart delay") << true;
    }

    void portChangeRestartsOnTheNewPort() {
        QFETCH(bool, slowExit);
        if (slowExit)
            qputenv("FAKE_CF_IGNORE_TERM", "1");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Moving"), 3000), services());
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        const qint64 oldPid = tunnel.childPid();
        QElapsedTimer elapsed;
        elapsed.start();
        tunnel.updatePort(4000);
        QCOMPARE(tunnel.config().port, qint64(4000));
        QVERIFY(!tunnel.tunnelURL());

        QTRY_VERIFY_WITH_TIMEOUT(tunnel.hasChild() && tunnel.childPid() != oldPid,
                                 TunnelInstance::killGraceMs + slow);
        QVERIFY(elapsed.elapsed() >= TunnelInstance::restartDelayMs - 50);
        QVERIFY(!processAlive(oldPid));
        QVERIFY(tunnel.isRunning());
        QTRY_VERIFY(processCommandLine(tunnel.childPid())
                        .endsWith(QStringLiteral("http://127.0.0.1:4000")));
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        qunsetenv("FAKE_CF_IGNORE_TERM");
        ::kill(static_cast<pid_t>(tunnel.childPid()), SIGKILL);
        waitStopped(tunnel);
    }

    void stopDuringTheRestartDelayWins() {
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Moving"), 3000), services());
        tunnel.start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
        tunnel.updatePort(4000);
        tunnel.stop();
        QTest::qWait(TunnelInstance::restartDelayMs + 500);
        QVERIFY(!tunnel.isRunning());
        QVERIFY(!tunnel.hasChild());
    }

    void standardOutputIsNeverAPipeThatFillsUp() {
        qputenv("FAKE_CF_STDOUT_MIB", "64");
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Chatty"), 3000), services());
        tunnel.start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.tunnelURLText(), fakeUrl, slow);
        tunnel.stop();
        waitStopped(tunnel);
    }

    void launchFailureIsReportedAndCanBeRetried() {
        QTemporaryDir dir;
        const QString client = dir.filePath(QStringLiteral("cloudflared"));
        QFile file(client);
        QVERIFY(file.open(QIODevice::WriteOnly)); // not executable: exec fails
        file.close();
        TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Broken"), 3000),
                              services([client] { return std::optional<QString>(client); }));
        tunnel.start();
        QVERIFY(!tunnel.isRunning() && !tunnel.isConnecting() && !tunnel.hasChild());
        const auto shown = notifications(1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].summary, QStringLiteral("'Broken' Error"));
        QVERIFY(shown[0].body.startsWith(QStringLiteral("Failed to start: ")));

        QFile::remove(client);
        QVERIFY(QFile::copy(fakeClientPath(), client));
        tunnel.start();
        QVERIFY(tunnel.isRunning());
        tunnel.stop();
        waitStopped(tunnel);
    }

    void markupInTheBodyIsShownAsTyped() {
        FreedesktopNotifier notifier;
        QTRY_VERIFY(TestSupport::notificationDaemonRunning());
        QTest::qWait(200); // let the capabilities arrive
        notifier.notify(QStringLiteral("'<i>x</i> & y' Active"), QStringLiteral("a <b>b</b> & c"));
        const auto shown = notifications(1);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].summary, QStringLiteral("'<i>x</i> & y' Active"));
        QCOMPARE(shown[0].shownBody, QStringLiteral("a <b>b</b> & c"));
    }

    void releasingARunningInstanceEndsItsChildSilently() {
        qint64 pid = 0;
        {
            TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Gone"), 3000), services());
            tunnel.start();
            QTRY_VERIFY_WITH_TIMEOUT(tunnel.tunnelURL(), slow);
            pid = tunnel.childPid();
            notifications(1);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), slow);
        QCOMPARE(notifications(1, 500).size(), 0);
    }

    void childrenDoNotOutliveAKilledApplication() {
        // A separate process owns a running tunnel and is then killed outright.
        QProcess owner;
        owner.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--own-a-tunnel")});
        QVERIFY(owner.waitForReadyRead(slow));
        const qint64 childPid = owner.readLine().trimmed().toLongLong();
        QVERIFY(processAlive(childPid));
        ::kill(static_cast<pid_t>(owner.processId()), SIGKILL);
        QVERIFY(owner.waitForFinished(slow));
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(childPid), 2000);
    }
};

// `--own-a-tunnel`: start one tunnel, print its child's pid, run until killed.
static int ownATunnel(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TunnelInstance tunnel(TunnelConfig::create(QStringLiteral("Owned"), 3000),
                          {fakeClientLocator(), nullptr});
    tunnel.start();
    std::printf("%lld\n", static_cast<long long>(tunnel.childPid()));
    std::fflush(stdout);
    return app.exec();
}

int main(int argc, char** argv) {
    if (argc > 1 && qstrcmp(argv[1], "--own-a-tunnel") == 0)
        return ownATunnel(argc, argv);
    QCoreApplication app(argc, argv);
    TestTunnelInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tunnelinstance.moc"
