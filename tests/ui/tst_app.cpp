// The application shell: popup placement, Quit stopping every child, the tray's tooltip, the
// window shown without a tray, and one instance per user with the real binary (taking Qt's own
// options, and answering a command).
// Children that ignore the terminate signal and a killed instance's lock are in tst_faults.
#include "TestSupport.h"
#include "app/PopupPlacement.h"
#include "app/QuillbyApp.h"
#include "app/StatusWindow.h"
#include "model/TunnelInstance.h"
#include "model/TunnelStore.h"
#include "platform/SignalWatcher.h"

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

using namespace TestSupport;

namespace {
constexpr int slow = 15000;
} // namespace

class TestApp : public QObject {
    Q_OBJECT

private slots:
    void popupIsPlacedByTheIconInsideTheScreen_data() {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QPoint>("expected");
        // Available area 0,30 1280x770 (a top panel of 30).
        QTest::newRow("top right: below, pushed left") << QRect(1250, 2, 24, 24) << QPoint(980, 30);
        QTest::newRow("bottom left: above, pushed right")
            << QRect(4, 776, 24, 24) << QPoint(0, 372);
        QTest::newRow("cursor in the middle") << QRect(640, 300, 1, 1) << QPoint(490, 305);
    }
    void popupIsPlacedByTheIconInsideTheScreen() {
        QFETCH(QRect, anchor);
        QFETCH(QPoint, expected);
        const QRect available(0, 30, 1280, 770);
        QCOMPARE(placePopup(anchor, QSize(300, 400), available), expected);
        // Larger than the screen: its top-left corner stays on screen.
        QCOMPARE(placePopup(anchor, QSize(2000, 2000), available), available.topLeft());
    }

    // The signals, through the application's own session, are in tst_faults.
    void quitStopsEveryChild() {
        TempHome home;
        auto settings = home.settings();
        QuillbyApp app({settings.get(), nullptr, nullptr, fakeClientLocator()});
        QSignalSpy finished(&app, &QuillbyApp::finished);
        app.start();

        // No tray here: the window is an ordinary one that says why.
        QVERIFY(!app.hasTray());
        QCOMPARE(app.statusWindow()->mode(), StatusWindow::Mode::Window);
        QVERIFY(app.statusWindow()->findChild<QLabel*>(u"noTrayNotice"_s)->isVisible());

        auto button = [&](const char* name) {
            return app.statusWindow()->findChild<QToolButton*>(QLatin1String(name));
        };
        QTest::mouseClick(button("startStopButton"), Qt::LeftButton);
        TunnelInstance* tunnel = app.store()->instances().front();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel->tunnelURL(), slow);
        const qint64 pid = tunnel->childPid();

        QTest::mouseClick(button("quitButton"), Qt::LeftButton);
        app.quit(); // a second Quit changes nothing
        QVERIFY(finished.wait(slow));
        QVERIFY(!processAlive(pid));
        QTest::qWait(100);
        QCOMPARE(finished.size(), 1);
    }

    void trayToolTipNamesTheRunningTunnels_data() {
        QTest::addColumn<QStringList>("labels"); // one running tunnel each
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList{} << "Quillby\nNo tunnel running";
        QTest::newRow("one") << QStringList{"fare-write-waste-gadgets"}
                             << "Quillby\nT1: https://fare-write-waste-gadgets.trycloudflare.com";
        QTest::newRow("three, one long")
            << QStringList{"a", "bb", "suggestions-bedrooms-conservative-regarding-arrivals"}
            << "Quillby\nT1: https://a.trycloudflare.com\nT2: https://bb.trycloudflare.com\n"
               "T3: https://suggestions-bedrooms-c\u2026ng-arrivals.trycloudflare.com";
    }
    void trayToolTipNamesTheRunningTunnels() {
        QFETCH(QStringList, labels);
        QFETCH(QString, expected);
        TempHome home;
        auto settings = home.settings();
        QuillbyApp app({settings.get(), nullptr, nullptr, fakeClientLocator()});
        // The first-launch tunnel stays stopped and is not named.
        for (int i = 0; i < labels.size(); ++i) {
            app.store()->addTunnel(u"T%1"_s.arg(i + 1), 3000 + i);
            qputenv("FAKE_CF_LABEL", labels[i].toUtf8());
            TunnelInstance* tunnel = app.store()->instances().back();
            tunnel->start();
            QTRY_VERIFY_WITH_TIMEOUT(tunnel->tunnelURL(), slow);
        }
        QCOMPARE(app.trayIcon()->toolTip(), expected);
        app.store()->stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(!app.store()->hasLiveChildren(), slow);
    }

    void oneInstancePerUser() {
        TempHome home;
        QTemporaryDir runtime;
        QProcess first, second, list;
        for (QProcess* process : {&first, &second, &list}) {
            process->setProgram(QUILLBY_BINARY);
            process->setEnvironment(QProcess::systemEnvironment()
                                    << "XDG_RUNTIME_DIR=" + runtime.path()
                                    << "QT_QPA_PLATFORM=offscreen");
        }
        // Qt's own options, as a session manager restoring the app passes them.
        first.setArguments({"-session", "10abc", "-reverse", "-style", "Fusion"});
        first.start();
        const QString socket = runtime.path() + "/quillby.socket";
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), slow);
        struct stat info = {}; // only this user may connect
        QCOMPARE(::stat(QFile::encodeName(socket).constData(), &info), 0);
        QCOMPARE(info.st_mode & 077, 0u);
        second.setArguments({"-platform", "offscreen"});
        list.setArguments({"list"}); // the commands reach the same socket
        for (QProcess* process : {&second, &list}) {
            process->start();
            QVERIFY(process->waitForFinished(slow) && process->exitCode() == 0);
        }
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(list.readAllStandardOutput().contains("8000  stopped     Tunnel"));
        first.terminate();
        QVERIFY(first.waitForFinished(slow));
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(
            !(first.readAllStandardError() + second.readAllStandardError()).contains("Unknown"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
