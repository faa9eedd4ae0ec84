// Faults Quillby must survive, on real processes: the application (fault_driver, which runs
// the app's own session) killed or signalled while tunnels run, a kill in the middle of saving,
// and settings it cannot read or write.
// Covered closer to their code: what a tunnel makes of a client that ignores Stop
// (tests/model/tst_tunnelinstance), the real child's Stop (tests/model/tst_client), the client
// found or missing (tests/model/tst_values), a second launch (tests/e2e/journey.py).
// Runs inside scripts/desktop-session.sh --tray --notifications.
#include "TestSupport.h"
#include "model/SettingsKeys.h"
#include "model/TunnelInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// What the application reads at start, in a home of its own (HOME and XDG_CONFIG_HOME point
// into it), with the stand-in client first on PATH.
struct AppHome : TempHome {
    QString settingsDir = configHome() + "/Quillby";
    QString settingsPath = settingsDir + "/Quillby.conf";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    AppHome() {
        QDir().mkpath(settingsDir);
        QDir().mkdir(path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert("PATH", QFileInfo(fakeClientPath()).path() + ':' + env.value("PATH"));
        env.insert("XDG_RUNTIME_DIR", path() + "/run");
        env.remove("QT_QPA_PLATFORM");
    }
    // Saves a list of `count` tunnels, as a run before this one did, and returns it.
    QList<TunnelConfig> save(int count, const QString& prefix = "Tunnel ") const {
        QList<TunnelConfig> list;
        for (int i = 0; i < count; ++i)
            list.append(TunnelConfig::create(prefix + QString::number(i), 20000 + i));
        QSettings(settingsPath, QSettings::IniFormat)
            .setValue(SettingsKeys::tunnelConfigs, encodeTunnelConfigs(list));
        return list;
    }
    // The list as a later start reads it; empty when it does not decode.
    QList<TunnelConfig> load() const {
        const QSettings settings(settingsPath, QSettings::IniFormat);
        return decodeTunnelConfigs(settings.value(SettingsKeys::tunnelConfigs).toByteArray())
            .value_or(QList<TunnelConfig>());
    }
};

// One run of fault_driver (by default the app, starting every tunnel); it never outlives the
// test.
struct Driver : QProcess {
    explicit Driver(const QProcessEnvironment& env, const QString& mode = "app --start-all") {
        setProcessEnvironment(env);
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList command = (QUILLBY_FAULT_DRIVER " " + mode).split(' ');
        // Never with root's capabilities, as on a desktop: file permissions bite.
        if (::geteuid() == 0)
            command =
                QStringList{"setpriv", "--bounding-set=-all", "--inh-caps=-all", "--"} + command;
        setProgram(command.takeFirst());
        setArguments(command);
    }
    ~Driver() override {
        kill();
        waitForFinished(5000);
    }
    // Starts it and reads up to the line `until`; generous, as sanitizer builds start slowly.
    bool run(const QByteArray& until = "ready") {
        start();
        for (int wait = 0; wait < 300 && (waitForReadyRead(200) || state() == Running); ++wait)
            while (canReadLine())
                if (readLine().trimmed() == until)
                    return true;
        return false;
    }
    void signal(int number) { ::kill(static_cast<pid_t>(processId()), number); }
    bool waitForExit() { return waitForFinished(TunnelInstance::killGraceMs + 30000); }
    // Ends it as a logout does: true when it exited 0 and left none of its children of now
    // behind (a client whose metrics port another process took is launched again, with a new pid).
    bool quit(int number = SIGTERM) {
        const QList<qint64> running = childrenOf(processId());
        signal(number);
        return waitForExit() && exitStatus() == NormalExit && exitCode() == 0 &&
               std::ranges::none_of(running, &processAlive);
    }
};

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void appEndsWhileTunnelsRun_data() {
        QTest::addColumn<int>("signalNumber");
        for (int n : {SIGKILL, SIGTERM, SIGINT, SIGHUP})
            QTest::newRow(sigabbrev_np(n)) << n;
    }
    void appEndsWhileTunnelsRun() {
        QFETCH(int, signalNumber);
        AppHome home;
        const QList<TunnelConfig> saved = home.save(10);
        // On SIGTERM the children ignore SIGTERM themselves: Quit must wait out the grace
        // period and kill them. Every other signal Quillby handles takes the same Quit.
        const bool stubborn = signalNumber == SIGTERM;
        if (stubborn)
            home.env.insert("FAKE_CF_IGNORE_TERM", "1");
        Driver app(home.env);
        QVERIFY(app.run());
        QTRY_COMPARE(childrenOf(app.processId()).size(), 10);
        const QList<qint64> running = childrenOf(app.processId());

        const QDeadlineTimer grace(TunnelInstance::killGraceMs * 9 / 10);
        app.signal(signalNumber);
        QVERIFY(app.waitForExit());
        // After a kill the kernel ends them on the parent's death; allow for a busy machine.
        QTRY_VERIFY_WITH_TIMEOUT(std::ranges::none_of(running, &processAlive), 3000);
        // Otherwise Quit (waiting for the kill of stubborn children) ended with status 0.
        QVERIFY(signalNumber == SIGKILL ||
                (app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0));
        QVERIFY(!stubborn || grace.hasExpired());
        QCOMPARE(home.load(), saved); // nothing wrong saved
        // A killed instance leaves its lock behind: the next launch takes over.
        Driver next(home.env, "app");
        QVERIFY(next.run() && next.quit());
    }

    void killedInTheMiddleOfSaving() {
        AppHome home;
        const QList<TunnelConfig> old = home.save(5, "old ");
        QList<TunnelConfig> fresh = old;
        for (TunnelConfig& config : fresh)
            config.name.replace("old ", "new ");
        int sawOld = 0, sawNew = 0;
        for (int round = 0; round < 200; ++round) {
            Driver saver(home.env, "saves");
            QVERIFY(saver.run("saving"));
            QTest::qSleep(QRandomGenerator::global()->bounded(30));
            saver.signal(SIGKILL);
            QVERIFY(saver.waitForExit());
            // A kill between creating and filling QSettings' lock file leaves it empty, and the
            // next save would wait QLockFile's stale time (30 s) for it: cleared so every round
            // saves.
            QFile::remove(home.settingsPath + ".lock");
            const QList<TunnelConfig> loaded = home.load();
            QVERIFY2(loaded == old || loaded == fresh, qPrintable(QString::number(round)));
            (loaded == old ? sawOld : sawNew)++;
        }
        // The kills landed in the middle of saving, not before or after it.
        QVERIFY(sawOld > 0 && sawNew > 0);
    }

    void unusableSettings_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("fileMode"); // of the settings file
        QTest::addColumn<int>("tunnels");  // built at start; the default one when nothing was read
        QTest::newRow("directory in its place") << "directory" << 0755 << 1;
        QTest::newRow("unreadable file") << "unreadable" << 0 << 1;
        QTest::newRow("read-only folder") << "read-only" << 0444 << 3;
    }
    void unusableSettings() {
        QFETCH(QString, fault);
        QFETCH(int, fileMode);
        QFETCH(int, tunnels);
        AppHome home;
        home.save(3);
        if (fault == "directory")
            QVERIFY(QFile::remove(home.settingsPath) && QDir().mkpath(home.settingsPath));
        const QByteArray before = readFile(home.settingsPath);
        ::chmod(QFile::encodeName(home.settingsPath).constData(), fileMode);
        if (fault == "read-only")
            ::chmod(QFile::encodeName(home.settingsDir).constData(), 0555);

        Driver app(home.env);
        QVERIFY(app.run());
        QTRY_COMPARE(childrenOf(app.processId()).size(), tunnels);
        QVERIFY(app.quit()); // after running on for the quit delay

        // What it could not use is still there, untouched, for a later, working start. A value
        // it cannot decode is tst_tunnelstore's.
        QCOMPARE(QFileInfo(home.settingsPath).isDir(), fault == "directory");
        QCOMPARE(readFile(home.settingsPath), before);
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
