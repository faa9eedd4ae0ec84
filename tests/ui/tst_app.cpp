// The application shell: popup placement, quit stopping every child (also on SIGTERM, SIGINT
// and SIGHUP), the window shown without a tray, and one instance per user with the real binary.
#include "TestSupport.h"
#include "app/PopupPlacement.h"
#include "app/QuillbyApp.h"
#include "app/QuitSequence.h"
#include "app/SignalWatcher.h"
#include "app/StatusWindow.h"
#include "model/TunnelStore.h"
#include "platform/XdgAutostartLoginItem.h"
#include "ui/StatusMenuView.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <sys/stat.h>

using namespace TestSupport;

namespace {

constexpr int slow = 15000;

} // namespace

class TestApp : public QObject {
    Q_OBJECT

    QProcessEnvironment appEnvironment(const TempHome& home, const QString& runtime) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

private slots:
    void init() {
        qunsetenv("FAKE_CF_MODE");
        qunsetenv("FAKE_CF_IGNORE_TERM");
    }

    void popupIsPlacedByTheIconInsideTheScreen_data() {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QPoint>("expected");
        // Available area 0,30 1280x770 (a top panel of 30).
        QTest::newRow("top right icon: below, pushed left")
            << QRect(1250, 2, 24, 24) << QPoint(980, 30);
        QTest::newRow("top middle icon: centred below") << QRect(628, 2, 24, 24) << QPoint(489, 30);
        QTest::newRow("bottom left icon: above, pushed right")
            << QRect(4, 776, 24, 24) << QPoint(0, 372);
        QTest::newRow("cursor in the middle") << QRect(640, 300, 1, 1) << QPoint(490, 305);
    }
    void popupIsPlacedByTheIconInsideTheScreen() {
        QFETCH(QRect, anchor);
        QFETCH(QPoint, expected);
        const QRect available(0, 30, 1280, 770);
        const QPoint at = placePopup(anchor, QSize(300, 400), available);
        QCOMPARE(at, expected);
        QVERIFY(available.contains(QRect(at, QSize(300, 400))));
        // Larger than the screen: its top-left corner stays on screen.
        QCOMPARE(placePopup(anchor, QSize(2000, 2000), available), available.topLeft());
    }

    void quitWaitsForEveryChild() {
        TempHome home;
        auto settings = home.settings();
        TunnelStore store(settings.get(), {fakeClientLocator(), nullptr});
        store.addTunnel(QStringLiteral("Stubborn"), 3000);
        qputenv("FAKE_CF_IGNORE_TERM", "1");
        store.instances().back()->start();
        qunsetenv("FAKE_CF_IGNORE_TERM");
        store.instances().front()->start();
        QList<qint64> pids;
        for (TunnelInstance* tunnel : store.instances()) {
            QTRY_VERIFY_WITH_TIMEOUT(tunnel->tunnelURL(), slow);
            pids << tunnel->childPid();
        }

        QuitSequence quit(&store);
        QSignalSpy finished(&quit, &QuitSequence::finished);
        QElapsedTimer clock;
        clock.start();
        quit.start();
        quit.start(); // a second Quit changes nothing
        QVERIFY(finished.wait(TunnelInstance::killGraceMs + slow));
        QVERIFY(clock.elapsed() >= QuitSequence::quitDelayMs);
        for (qint64 pid : pids)
            QVERIFY2(!processAlive(pid), qPrintable(QString::number(pid)));
        QTest::qWait(100);
        QCOMPARE(finished.size(), 1);
    }

    void quitWithNothingRunningOnlyWaits() {
        TempHome home;
        auto settings = home.settings();
        TunnelStore store(settings.get(), {fakeClientLocator(), nullptr});
        QuitSequence quit(&store);
        QSignalSpy finished(&quit, &QuitSequence::finished);
        QElapsedTimer clock;
        clock.start();
        quit.start();
        QVERIFY(finished.wait(slow));
        QVERIFY(clock.elapsed() >= QuitSequence::quitDelayMs);
    }

    void signalsQuitTheAppWithoutATray_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void signalsQuitTheAppWithoutATray() {
        QFETCH(int, signalNumber);
        TempHome home;
        auto settings = home.settings();
        XdgAutostartLoginItem loginItem({QStringLiteral("/usr/bin/quillby")});
        SignalWatcher watcher;
        QuillbyApp app({settings.get(), nullptr, &loginItem, fakeClientLocator()});
        connect(&watcher, &SignalWatcher::received, &app, &QuillbyApp::quit);
        QSignalSpy finished(&app, &QuillbyApp::finished);
        app.start();

        // No tray here: the window is an ordinary one that says why.
        QVERIFY(!app.hasTray());
        QCOMPARE(app.window()->mode(), StatusWindow::Mode::Window);
        QVERIFY(app.window()->isVisible());
        QVERIFY(app.window()->findChild<QLabel*>(QStringLiteral("noTrayNotice"))->isVisible());

        auto* start = app.window()->findChild<QToolButton*>(QStringLiteral("startStopButton"));
        QTest::mouseClick(start, Qt::LeftButton);
        TunnelInstance* tunnel = app.store()->instances().front();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel->tunnelURL(), slow);
        const qint64 pid = tunnel->childPid();

        ::raise(signalNumber);
        QVERIFY(finished.wait(slow));
        QVERIFY(!processAlive(pid));
        QVERIFY(!app.window()->isVisible());
    }

    void quitButtonFinishesTheApp() {
        TempHome home;
        auto settings = home.settings();
        QuillbyApp app({settings.get(), nullptr, nullptr, fakeClientLocator()});
        QSignalSpy finished(&app, &QuillbyApp::finished);
        app.start();
        QTest::mouseClick(app.window()->findChild<QToolButton*>(QStringLiteral("quitButton")),
                          Qt::LeftButton);
        QVERIFY(finished.wait(slow));
    }

    void oneInstancePerUser() {
        TempHome home;
        QTemporaryDir runtime;
        QProcess first;
        first.setProcessEnvironment(appEnvironment(home, runtime.path()));
        first.start(QStringLiteral(QUILLBY_BINARY), {});
        QVERIFY(first.waitForStarted());
        const QString socket = runtime.path() + QStringLiteral("/quillby.socket");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), slow);
        // Only this user may connect.
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(socket).constData(), &info), 0);
        QCOMPARE(info.st_mode & 077, 0u);

        QProcess second;
        second.setProcessEnvironment(appEnvironment(home, runtime.path()));
        second.start(QStringLiteral(QUILLBY_BINARY), {});
        QVERIFY(second.waitForFinished(slow));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        // A lock left by a killed instance is taken over.
        first.kill();
        QVERIFY(first.waitForFinished(slow));
        QProcess third;
        third.setProcessEnvironment(appEnvironment(home, runtime.path()));
        third.start(QStringLiteral(QUILLBY_BINARY), {});
        QVERIFY(third.waitForStarted());
        QTest::qWait(1000);
        QCOMPARE(third.state(), QProcess::Running);

        // SIGTERM ends it cleanly.
        third.terminate();
        QVERIFY(third.waitForFinished(slow));
        QCOMPARE(third.exitStatus(), QProcess::NormalExit);
        QCOMPARE(third.exitCode(), 0);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
