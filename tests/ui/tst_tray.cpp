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

using namespace TestSupport;

namespace {

constexpr int slow = 15000;

void xdotool(const QStringList& arguments) {
    QProcess::execute(QStringLiteral("xdotool"), arguments);
}

void clickAt(QPoint point) {
    xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

// The colour of the icon's most opaque pixel, and how much of the icon's middle is covered.
struct IconLook {
    QColor color;
    bool filledMiddle = false;
};

IconLook look(const QIcon& icon) {
    const QImage image =
        icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
    IconLook result;
    int bestAlpha = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > bestAlpha) {
                bestAlpha = pixel.alpha();
                result.color = pixel;
            }
        }
    }
    result.filledMiddle = image.pixelColor(image.width() / 2, image.height() * 2 / 3).alpha() > 200;
    return result;
}

bool similar(const QColor& a, const QColor& b) {
    return qAbs(a.red() - b.red()) < 8 && qAbs(a.green() - b.green()) < 8 &&
           qAbs(a.blue() - b.blue()) < 8;
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
        QTRY_VERIFY_WITH_TIMEOUT(
            app.trayIcon()->geometry().isValid() && app.trayIcon()->geometry().x() > 0, slow);
        QVERIFY(!app.window()->isVisible());

        const QPalette light{QColor(Qt::white)};
        IconLook idle = look(app.trayIcon()->icon());
        QVERIFY(similar(idle.color, Theme::named(Theme::Named::Gray, light)));
        QVERIFY(!idle.filledMiddle);

        const QRect icon = app.trayIcon()->geometry();
        clickAt(icon.center());
        QTRY_VERIFY_WITH_TIMEOUT(app.window()->isVisible(), slow);
        QCOMPARE(app.window()->mode(), StatusWindow::Mode::Popup);
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QTRY_VERIFY(available.contains(app.window()->frameGeometry()));
        // By the icon: just below it, overlapping it horizontally.
        QVERIFY(qAbs(app.window()->geometry().top() - icon.bottom()) < 40);
        QVERIFY(app.window()->geometry().left() <= icon.right());

        // Escape closes it; the next click opens it again and the one after closes it.
        QTRY_VERIFY_WITH_TIMEOUT(app.window()->isActiveWindow(), slow);
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(!app.window()->isVisible(), slow);
        QTest::qWait(400);
        clickAt(icon.center());
        QTRY_VERIFY_WITH_TIMEOUT(app.window()->isVisible(), slow);
        QTest::qWait(400);
        clickAt(icon.center());
        QTRY_VERIFY_WITH_TIMEOUT(!app.window()->isVisible(), slow);

        // A running tunnel turns the cloud green and filled, already while connecting.
        qputenv("FAKE_CF_MODE", "no-url");
        TunnelInstance* tunnel = app.store()->instances().front();
        tunnel->start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel->isConnecting(), slow);
        QTRY_VERIFY(look(app.trayIcon()->icon()).filledMiddle);
        QVERIFY(
            similar(look(app.trayIcon()->icon()).color, Theme::named(Theme::Named::Green, light)));
        tunnel->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel->isRunning(), slow);
        QTRY_VERIFY(!look(app.trayIcon()->icon()).filledMiddle);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
