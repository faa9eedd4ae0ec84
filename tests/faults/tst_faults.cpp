// Faults Quillby must survive, on real processes: the application (fault_driver, which runs
// the app's own session) killed or signalled while tunnels run, a kill in the middle of saving,
// settings it cannot read or write, and a notification server that is missing or goes away.
// Covered closer to their code: a stubborn child on Stop and a killed owner's children
// (tests/model/tst_tunnelinstance), the client removed and put back (tests/model/tst_locator),
// a second launch (tests/ui/tst_app).
// Runs inside scripts/desktop-session.sh --tray --notifications.
#include "TestSupport.h"
#include "model/SettingsKeys.h"
#include "model/TunnelInstance.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

int countAlive(const QList<qint64>& pids) {
    return int(std::count_if(pids.begin(), pids.end(), &processAlive));
}

// A process of the test's own, which never outlives it.
struct OwnedProcess : QProcess {
    ~OwnedProcess() override {
        kill();
        waitForFinished(5000);
    }
};

// What the application reads at start, in a home of its own.
struct AppHome {
    TempHome home;
    QString runtimeDir = home.path() + QStringLiteral("/runtime");
    QString settingsDir = home.configHome() + QStringLiteral("/Quillby");
    QString settingsPath = settingsDir + QStringLiteral("/Quillby.conf");

    AppHome() {
        QDir().mkpath(settingsDir);
        QDir().mkdir(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // HOME and XDG_CONFIG_HOME already point into the home while it lives.
    QProcessEnvironment environment() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), QFileInfo(fakeClientPath()).path() + QLatin1Char(':') +
                                               env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        return env;
    }
    // Saves a list of `count` tunnels, as a run before this one did, and returns it.
    QList<TunnelConfig> save(int count, const QString& prefix = QStringLiteral("Tunnel ")) const {
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

// One run of fault_driver (by default the app, starting every tunnel) with its output parsed.
struct Driver : OwnedProcess {
    explicit Driver(const QProcessEnvironment& env, const char* mode = "app --start-all") {
        setProcessEnvironment(env);
        setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList command = QString::fromLatin1(mode).split(QLatin1Char(' '));
        command.prepend(QStringLiteral(QUILLBY_FAULT_DRIVER));
        // Never with root's capabilities, as on a desktop: file permissions bite.
        if (::geteuid() == 0)
            command = QStringList{QStringLiteral("setpriv"), QStringLiteral("--bounding-set=-all"),
                                  QStringLiteral("--inh-caps=-all"), QStringLiteral("--")} +
                      command;
        setProgram(command.takeFirst());
        setArguments(command);
    }
    // Starts it and reads up to the line `until`; generous, as sanitizer builds start slowly.
    bool run(const QByteArray& until = "ready") {
        start();
        for (int wait = 0; wait < 300 && (waitForReadyRead(200) || state() == Running); ++wait) {
            while (canReadLine()) {
                const QByteArray line = readLine().trimmed();
                if (line.startsWith("child "))
                    children.append(line.mid(6).toLongLong());
                else if (line == until)
                    return true;
            }
        }
        return false;
    }
    void signal(int number) { ::kill(static_cast<pid_t>(processId()), number); }
    bool waitForExit() { return waitForFinished(TunnelInstance::killGraceMs + 30000); }
    // Ends it as a logout does: true when it exited 0 and left no child behind.
    bool quit(int number = SIGTERM) {
        signal(number);
        return waitForExit() && exitStatus() == NormalExit && exitCode() == 0 &&
               countAlive(children) == 0;
    }

    QList<qint64> children; // one per tunnel it built and started
};

// A session bus of our own with no activatable services: a notification server exists on it
// only while the test runs one.
struct PrivateBus {
    PrivateBus() {
        QFile config(dir.filePath(QStringLiteral("bus.conf")));
        if (config.open(QIODevice::WriteOnly))
            config.write("<busconfig><listen>unix:dir=" + QFile::encodeName(dir.path()) +
                         R"(</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>)");
        config.close();
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                      QStringLiteral("--config-file=") + config.fileName()});
        daemon.waitForReadyRead(10000);
        address = QString::fromUtf8(daemon.readLine().trimmed());
    }
    bool hasNotificationServer() const {
        const auto bus = QDBusConnection::connectToBus(address, address);
        return bus.isConnected() && bus.interface()->isServiceRegistered(
                                        QStringLiteral("org.freedesktop.Notifications"));
    }

    QTemporaryDir dir;
    QString address;
    OwnedProcess daemon, dunst;
};

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

private slots:
    void appEndsWhileTunnelsRun_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGKILL") << SIGKILL;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void appEndsWhileTunnelsRun() {
        QFETCH(int, signalNumber);
        AppHome home;
        const QList<TunnelConfig> saved = home.save(10);
        auto env = home.environment();
        // On a signal Quillby can handle, the children ignore SIGTERM: Quit must wait out the
        // grace period and kill them.
        if (signalNumber != SIGKILL)
            env.insert(QStringLiteral("FAKE_CF_IGNORE_TERM"), QStringLiteral("1"));
        Driver app(env);
        QVERIFY(app.run());
        QCOMPARE(countAlive(app.children), 10);

        const QDeadlineTimer grace(TunnelInstance::killGraceMs * 9 / 10);
        app.signal(signalNumber);
        QVERIFY(app.waitForExit());
        // After a kill the kernel ends them on the parent's death; allow for a busy machine.
        QTRY_COMPARE_WITH_TIMEOUT(countAlive(app.children), 0, 3000);
        // Otherwise Quit waited for the kill, then the app exited 0.
        QVERIFY(signalNumber == SIGKILL || (app.exitStatus() == QProcess::NormalExit &&
                                            app.exitCode() == 0 && grace.hasExpired()));
        QCOMPARE(home.load(), saved); // nothing wrong saved
        // A killed instance leaves its lock behind: the next launch takes over.
        Driver next(home.environment(), "app");
        QVERIFY(next.run() && next.quit());
    }

    void killedInTheMiddleOfSaving() {
        AppHome home;
        const QList<TunnelConfig> old = home.save(5, QStringLiteral("old "));
        QList<TunnelConfig> fresh = old;
        for (TunnelConfig& config : fresh)
            config.name.replace(QStringLiteral("old "), QStringLiteral("new "));

        int sawOld = 0, sawNew = 0;
        for (int round = 0; round < 200; ++round) {
            Driver saver(home.environment(), "saves");
            QVERIFY(saver.run("saving"));
            QTest::qSleep(QRandomGenerator::global()->bounded(30));
            saver.signal(SIGKILL);
            QVERIFY(saver.waitForExit());
            // A kill between creating and filling QSettings' lock file leaves it empty, and the
            // next save would wait QLockFile's stale time (30 s) for it: cleared so every round
            // saves.
            QFile::remove(home.settingsPath + QStringLiteral(".lock"));
            const QList<TunnelConfig> loaded = home.load();
            QVERIFY2(loaded == old || loaded == fresh, qPrintable(QString::number(round)));
            (loaded == old ? sawOld : sawNew)++;
        }
        // The kills landed in the middle of saving, not before or after it.
        QVERIFY(sawOld > 0 && sawNew > 0);
    }

    void abandonedSaveLockDoesNotStallTheNextStart() {
        // What a kill between creating and filling QSettings' lock leaves behind.
        AppHome home;
        QFile lock(home.settingsPath + QStringLiteral(".lock"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        QElapsedTimer elapsed;
        elapsed.start();
        Driver app(home.environment(), "app");
        QVERIFY(app.run());
        // The default tunnel is saved at once, not after QLockFile's 30 s stale time.
        QVERIFY(elapsed.elapsed() < 15000);
        QCOMPARE(home.load().size(), 1);
        QVERIFY(app.quit());
    }

    void unusableSettings_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("fileMode"); // of the settings file
        QTest::addColumn<int>("tunnels");  // built at start; the default one when nothing was read
        QTest::newRow("garbage value") << QStringLiteral("garbage") << 0644 << 1;
        QTest::newRow("directory in its place") << QStringLiteral("directory") << 0755 << 1;
        QTest::newRow("unreadable file") << QStringLiteral("unreadable") << 0 << 1;
        QTest::newRow("read-only folder") << QStringLiteral("read-only") << 0444 << 3;
    }
    void unusableSettings() {
        QFETCH(QString, fault);
        QFETCH(int, fileMode);
        QFETCH(int, tunnels);
        const bool garbage = fault == QLatin1String("garbage");
        AppHome home;
        home.save(3);
        QFile file(home.settingsPath);
        if (garbage && file.open(QIODevice::WriteOnly))
            file.write("[General]\ntunnelConfigs=[{\"id\": not json\n\x01\xff\xfe junk\n");
        else if (fault == QLatin1String("directory"))
            QVERIFY(file.remove() && QDir().mkpath(home.settingsPath));
        file.close();
        const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        ::chmod(QFile::encodeName(home.settingsPath).constData(), fileMode);
        if (fault == QLatin1String("read-only"))
            ::chmod(QFile::encodeName(home.settingsDir).constData(), 0555);

        Driver app(home.environment());
        QVERIFY(app.run());
        QCOMPARE(app.children.size(), tunnels);
        QVERIFY(app.quit()); // after running on for the quit delay

        // What it could not use is still there for a later, working start: the file untouched,
        // or a value it could not decode kept beside the default list that replaced it.
        QCOMPARE(QFileInfo(home.settingsPath).isDir(), fault == QLatin1String("directory"));
        const QByteArray after = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QVERIFY(garbage ? after.contains("not json") && home.load().size() == 1 : after == before);
    }

    void notificationServerMissingOrGone_data() {
        QTest::addColumn<bool>("serverAtStart");
        QTest::newRow("none on the bus") << false;
        QTest::newRow("gone mid-run") << true;
    }
    void notificationServerMissingOrGone() {
        QFETCH(bool, serverAtStart);
        AppHome home;
        home.save(3);
        PrivateBus bus;
        QVERIFY(!bus.address.isEmpty());
        auto env = home.environment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address);
        bus.dunst.setProcessEnvironment(env);
        if (serverAtStart)
            bus.dunst.start(QStringLiteral("dunst"), {});
        QTRY_COMPARE_WITH_TIMEOUT(bus.hasNotificationServer(), serverAtStart, 10000);
        Driver app(env);
        QVERIFY(app.run());
        QCOMPARE(app.children.size(), 3);
        QTest::qWait(1000); // the "Active" notifications go out

        bus.dunst.kill();
        QTRY_VERIFY(!bus.hasNotificationServer());
        // A crash posts to a name nobody owns (any more).
        ::kill(static_cast<pid_t>(app.children[0]), SIGUSR1);
        QTRY_COMPARE_WITH_TIMEOUT(countAlive(app.children), 2, 10000);
        QTest::qWait(1000);
        QVERIFY(app.quit());
    }
};

QTEST_GUILESS_MAIN(FaultsTest)
#include "tst_faults.moc"
