// The application shell: popup placement, the tray's tooltip, and the real binary taking Qt's own
// options. Quit, the window without a tray, the hand-over to the first instance and the tray icon
// itself are in the journey and tests/e2e/desktops.py; the socket's permissions in tst_control;
// signals and a killed instance's lock in tst_faults.
#include "TestSupport.h"
#include "app/PopupPlacement.h"
#include "app/QuillbyApp.h"
#include "model/TunnelInstance.h"
#include "model/TunnelStore.h"

#include <QFileInfo>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace TestSupport;

class TestApp : public QObject {
    Q_OBJECT

private slots:
    void popupIsPlacedByTheIconInsideTheScreen_data() {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QPoint>("expected");
        // Available area 0,30 1280x770 (a top panel of 30).
        QTest::newRow("top right: below, pushed left") << QRect(1250, 2, 24, 24) << QPoint(980, 30);
        QTest::newRow("bottom left: above, moved right") << QRect(4, 776, 24, 24) << QPoint(0, 372);
        QTest::newRow("cursor in the middle") << QRect(640, 300, 1, 1) << QPoint(490, 305);
    }
    void popupIsPlacedByTheIconInsideTheScreen() {
        QFETCH(QRect, anchor);
        const QRect available(0, 30, 1280, 770);
        QTEST(placePopup(anchor, QSize(300, 400), available), "expected");
        // Larger than the screen: its top-left corner stays on screen.
        QCOMPARE(placePopup(anchor, QSize(2000, 2000), available), available.topLeft());
    }

    // None running, then three, one with a long URL shortened in the middle; the first-launch
    // tunnel stays stopped and is not named.
    void trayToolTipNamesTheRunningTunnels() {
        TempHome home;
        auto settings = home.settings();
        QuillbyApp app({settings.get(), nullptr, nullptr, fakeClientLocator()});
        QCOMPARE(app.trayIcon()->toolTip(), "Quillby\nNo tunnel running");
        const QStringList labels{"a", "bb", "suggestions-bedrooms-conservative-regarding-arrivals"};
        for (int i = 0; i < labels.size(); ++i) {
            TunnelInstance* added = app.store()->addTunnel(u"T%1"_s.arg(i + 1), 3000 + i);
            qputenv("FAKE_CF_LABEL", labels[i].toUtf8());
            added->start();
            QTRY_VERIFY_WITH_TIMEOUT(added->tunnelURL(), 15000);
        }
        QCOMPARE(app.trayIcon()->toolTip(),
                 "Quillby\nT1: https://a.trycloudflare.com\nT2: https://bb.trycloudflare.com\n"
                 "T3: https://suggestions-bedrooms-c\u2026ng-arrivals.trycloudflare.com");
        app.store()->stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(!app.store()->hasLiveChildren(), 15000);
    }

    // Qt's own options, as a session manager restoring the app passes them, are taken. Commands
    // reaching the running binary are in tests/e2e/gateway.py, the second launch's hand-over in
    // the journey.
    void takesQtsOwnOptions() {
        TempHome home;
        QProcess first;
        first.setEnvironment(QProcess::systemEnvironment()
                             << "XDG_RUNTIME_DIR=" + home.path() << "QT_QPA_PLATFORM=offscreen");
        first.start(QUILLBY_BINARY, {"-session", "10abc", "-reverse", "-style", "Fusion"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home.path() + "/quillby.socket"), 15000);
        first.terminate();
        QVERIFY(first.waitForFinished(15000) && first.exitCode() == 0);
        QVERIFY(!first.readAllStandardError().contains("Unknown"));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
