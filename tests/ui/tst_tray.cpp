// The real tray under Xvfb with trayer: the gray outlined cloud, green and filled while a
// tunnel runs; a click on the icon opens the popup by it inside the screen, Escape and a second
// click close it.
#include "TestSupport.h"
#include "app/QuillbyApp.h"
#include "app/StatusWindow.h"
#include "model/TunnelStore.h"
#include "ui/Theme.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace TestSupport;

namespace {

constexpr int slow = 15000;

// Whether the icon's most opaque pixel has this colour and the cloud's middle is filled or not.
bool looksLike(const QIcon& icon, Theme::Named named, bool filled) {
    const QImage image = icon.pixmap(48, 48).toImage().convertToFormat(QImage::Format_ARGB32);
    QColor color(0, 0, 0, 0);
    for (int i = 0; i < 48 * 48; ++i)
        if (image.pixelColor(i % 48, i / 48).alpha() > color.alpha())
            color = image.pixelColor(i % 48, i / 48);
    const QColor want = Theme::named(named, QPalette(Qt::white));
    return (image.pixelColor(24, 32).alpha() > 200) == filled &&
           std::max({qAbs(color.red() - want.red()), qAbs(color.green() - want.green()),
                     qAbs(color.blue() - want.blue())}) < 8;
}

} // namespace

class TestTray : public QObject {
    Q_OBJECT

private slots:
    void iconAndPopup() {
        TempHome home;
        auto settings = home.settings();
        QuillbyApp app({settings.get(), nullptr, nullptr, fakeClientLocator()});
        app.start();
        QTRY_VERIFY_WITH_TIMEOUT(app.hasTray(), slow);
        // Embedded first at the origin, then moved into the panel.
        QTRY_VERIFY_WITH_TIMEOUT(app.trayIcon()->geometry().x() > 0, slow);
        QVERIFY(!app.statusWindow()->isVisible());
        QVERIFY(looksLike(app.trayIcon()->icon(), Theme::Named::Gray, false));

        const QRect icon = app.trayIcon()->geometry();
        const QStringList click{"mousemove", QString::number(icon.center().x()),
                                QString::number(icon.center().y()), "click", "1"};
        QProcess::execute("xdotool", click);
        QTRY_VERIFY_WITH_TIMEOUT(app.statusWindow()->isVisible(), slow);
        QCOMPARE(app.statusWindow()->mode(), StatusWindow::Mode::Popup);
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QTRY_VERIFY(available.contains(app.statusWindow()->frameGeometry()));
        // By the icon: just below it, overlapping it horizontally.
        QVERIFY(qAbs(app.statusWindow()->geometry().top() - icon.bottom()) < 40);
        QVERIFY(app.statusWindow()->geometry().left() <= icon.right());

        // Escape closes it; the next click opens it again and the one after closes it.
        QTRY_VERIFY_WITH_TIMEOUT(app.statusWindow()->isActiveWindow(), slow);
        QProcess::execute("xdotool", {"key", "Escape"});
        QTRY_VERIFY_WITH_TIMEOUT(!app.statusWindow()->isVisible(), slow);
        for (bool visible : {true, false}) {
            QTest::qWait(400);
            QProcess::execute("xdotool", click);
            QTRY_COMPARE_WITH_TIMEOUT(app.statusWindow()->isVisible(), visible, slow);
        }

        // A running tunnel turns the cloud green and filled, already while connecting.
        qputenv("FAKE_CF_MODE", "no-url");
        TunnelInstance* tunnel = app.store()->instances().front();
        tunnel->start();
        QTRY_VERIFY_WITH_TIMEOUT((tunnel->state() == TunnelInstance::State::Connecting), slow);
        QTRY_VERIFY(looksLike(app.trayIcon()->icon(), Theme::Named::Green, true));
        tunnel->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel->isRunning(), slow);
        QTRY_VERIFY(looksLike(app.trayIcon()->icon(), Theme::Named::Gray, false));
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
