// Handing a URL on, on a real desktop session (Xvfb, bus, dunst): the QR code panel read back by
// a real decoder (zbarimg) and closed when the tunnel stops, Open in Browser through a stand-in
// xdg-open that records its arguments, the Active notification's actions invoked by dunst itself,
// and a server without actions (notify-osd on a bus of its own) offered none. The QR code cases run
// again at 2x.
#include "TestSupport.h"
#include "app/TunnelNotifications.h"
#include "model/TunnelInstance.h"
#include "platform/FreedesktopNotifier.h"
#include "ui/QrCodePanel.h"
#include "ui/QrCodeView.h"
#include "ui/TunnelRowView.h"
#include "ui/UrlActions.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

using namespace TestSupport;

namespace {
constexpr int slow = 15000;
const QString url = "https://fare-write-waste-gadgets.trycloudflare.com";
QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    // Events go on meanwhile: xclip asks us for our own clipboard.
    for (int waited = 0; process.state() != QProcess::NotRunning && waited < slow; waited += 10)
        QTest::qWait(10);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
} // namespace

class TestShare : public QObject {
    Q_OBJECT

    QTemporaryDir m_bin; // the stand-in xdg-open, first on PATH
    FreedesktopNotifier m_notifier;
    TunnelNotifications m_notes{&m_notifier};
    TunnelServices m_services{.findClient = fakeClientLocator()};

    // What zbarimg reads in the panel as it is drawn now.
    QString decoded(QWidget* panel) {
        const QString file = m_bin.filePath("panel.png");
        panel->grab().save(file);
        return run(u"zbarimg"_s, {"--raw", "-q", file});
    }

private slots:
    void initTestCase() {
        QFile script(m_bin.filePath("xdg-open"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$(dirname \"$0\")/opened\"\n");
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        script.close();
        qputenv("PATH", m_bin.path().toUtf8() + ':' + qgetenv("PATH"));
        QVERIFY2(notificationDaemonRunning(),
                 "run inside scripts/desktop-session.sh --notifications");
        QTest::qWait(200); // the server's capabilities
    }
    void init() {
        QFile::remove(m_bin.filePath("opened"));
        takeNotifications();
    }

    void urlIsHandedOn_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("copied");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<bool>("dark"); // the QR code panel's palette
        QTest::newRow("row Open in Browser") << "openButton" << false << true << false;
        QTest::newRow("panel Open in Browser") << "qrOpenButton" << false << true << false;
        QTest::newRow("panel Copy URL, dark") << "qrCopyButton" << true << false << true;
        // dunst's own invocations: its menu's entry chosen, or the default action.
        QTest::newRow("notification Copy URL")
            << "Copy URL ('Web' Active)" << true << false << false;
        QTest::newRow("notification default") << "dunstctl action" << false << true << false;
        QTest::newRow("foreign notification's Copy URL")
            << "Copy URL (Other)" << false << false << false;
    }
    void urlIsHandedOn() {
        QFETCH(QString, how);
        QFETCH(bool, copied);
        QFETCH(bool, opened);
        QFETCH(bool, dark);
        QApplication::setPalette(dark ? QPalette(QColor(0x1e, 0x1e, 0x1e)) : QPalette());
        QApplication::clipboard()->setText(u"before"_s);
        TunnelInstance tunnel(TunnelConfig::create("Web", 3000), m_services);
        m_notes.watch(&tunnel);
        tunnel.start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.tunnelURLText(), url, slow);
        TunnelRowView row(&tunnel, {});
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        QPointer<QrCodePanel> panel;
        if (how.startsWith("qr")) {
            QTest::mouseClick(row.findChild<QToolButton*>("qrButton"), Qt::LeftButton);
            panel = row.findChild<QrCodePanel*>();
            QVERIFY(panel && panel->isVisible());
            QCOMPARE(decoded(panel), url);
            // Crisp: dark on white only, whole device pixels per module, at least 200 wide.
            const QImage code =
                panel->codeView()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY(code.width() >= QrCodeView::minimumSide * panel->devicePixelRatioF());
            for (int y = 0; y < code.height(); ++y)
                for (int x = 0; x < code.width(); ++x)
                    QVERIFY((code.pixel(x, y) & 0xffffff) % 0xffffff == 0);
        }
        if (auto* button = row.findChild<QAbstractButton*>(how)) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            QTRY_COMPARE(run("dunstctl", {"count", "displayed"}), u"1"_s);
            // Another notifier on our connection, with the same action key.
            FreedesktopNotifier other;
            if (how.contains("Other")) {
                QTest::qWait(200); // its server's capabilities
                other.notify("Other", "x", {{"copy", "Copy URL", [] {}}});
                QTRY_COMPARE(run("dunstctl", {"count", "displayed"}), u"2"_s);
            }
            QFile choice(qEnvironmentVariable("QUILLBY_MENU_CHOICE"));
            QVERIFY(choice.open(QIODevice::WriteOnly | QIODevice::Truncate));
            choice.write(how.toUtf8());
            choice.close();
            run("dunstctl", {how.startsWith("dunstctl") ? "action" : "context"});
        }
        QTest::qWait(500); // long enough for what must not happen
        QTRY_COMPARE(run("xclip", {"-o", "-selection", "clipboard"}), copied ? url : "before");
        QTRY_COMPARE(run("cat", {m_bin.filePath("opened")}), opened ? url : QString());
        tunnel.stop(); // which closes the QR code panel
        QTRY_VERIFY_WITH_TIMEOUT(!panel, slow);
    }

    void serverWithoutActionsIsOfferedNone() {
        // notify-osd lists no "actions": watched on a bus of its own.
        PrivateBus bus;
        QProcess server, monitor;
        server.setEnvironment(QProcess::systemEnvironment()
                              << "DBUS_SESSION_BUS_ADDRESS=" + bus.address());
        server.start("/usr/lib/x86_64-linux-gnu/notify-osd", {});
        QTRY_VERIFY_WITH_TIMEOUT(bus.hasNotificationServer(), slow);
        monitor.start("dbus-monitor", {"--address", bus.address(), "member=Notify"});
        QVERIFY(monitor.waitForReadyRead(slow));
        FreedesktopNotifier notifier(QDBusConnection::connectToBus(bus.address(), "osd"));
        QTest::qWait(300); // the server's capabilities
        notifier.notify("'Web' Active", "body", {{"copy", "Copy URL", [] {}}});
        QByteArray seen;
        QTRY_VERIFY((seen += monitor.readAll()).contains("string \"body\"\n   array [\n"));
        QVERIFY2(seen.contains("string \"body\"\n   array [\n   ]"), seen.constData());
        for (QProcess* process : {&monitor, &server})
            process->kill(), process->waitForFinished();
    }
};

QTEST_MAIN(TestShare)
#include "tst_share.moc"
