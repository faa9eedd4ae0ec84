// Handing a URL on, on a real desktop session (Xvfb, bus, dunst): the QR code panel read back by
// a real decoder (zbarimg) and closed when the tunnel stops, Open in Browser through a stand-in
// xdg-open that records its arguments, the Active notification's actions invoked by dunst itself.
// The QR code cases run again at 2x.
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
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
constexpr int slow = 15000;
const QString url = "https://fare-write-waste-gadgets.trycloudflare.com";
struct Way {
    QString how;
    bool copied, opened, dark; // dark: the QR code panel's palette
};
QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    // Events go on meanwhile: xclip asks us for our own clipboard.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, slow))
        process.kill(); // what it printed so far is the answer
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
} // namespace
Q_DECLARE_METATYPE(Way)

class TestShare : public QObject {
    Q_OBJECT

    QTemporaryDir m_bin; // the stand-in xdg-open, first on PATH
    FreedesktopNotifier m_notifier;
    TunnelNotifications m_notes{&m_notifier};
    TunnelServices m_services{.findClient = fakeClientLocator()};

private slots:
    void initTestCase() {
        const QString script = m_bin.filePath("xdg-open");
        writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$(dirname \"$0\")/opened\"\n");
        QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner);
        qputenv("PATH", m_bin.path().toUtf8() + ':' + qgetenv("PATH"));
        QVERIFY2(notificationDaemonRunning(),
                 "run inside scripts/desktop-session.sh --notifications");
    }
    void init() {
        QFile::remove(m_bin.filePath("opened"));
        takeNotifications();
    }

    void urlIsHandedOn_data() {
        QTest::addColumn<Way>("way");
        QTest::newRow("row Open in Browser") << Way{"openButton", false, true, false};
        QTest::newRow("row Copy URL") << Way{"copyButton", true, false, false};
        QTest::newRow("panel Open in Browser") << Way{"qrOpenButton", false, true, false};
        QTest::newRow("panel Copy URL, dark") << Way{"qrCopyButton", true, false, true};
        // dunst's own invocations: its menu's entry chosen, or the default action.
        QTest::newRow("notification Copy URL") << Way{"Copy URL ('Web' Active)", true, 0, 0};
        QTest::newRow("notification default") << Way{"dunstctl action", false, true, false};
        // Another notifier on our connection with the same action key, which posts before the
        // server said what it supports: its notification still has its buttons.
        QTest::newRow("foreign notification's Copy URL") << Way{"Copy URL (Other)", 0, 0, 0};
    }
    void urlIsHandedOn() {
        QFETCH(Way, way);
        FreedesktopNotifier other;
        bool foreignInvoked = false;
        if (way.how.contains("Other"))
            other.notify("Other", "x", {{"copy", "Copy URL", [&] { foreignInvoked = true; }}});
        QApplication::setPalette(way.dark ? QPalette(QColor(0x1e, 0x1e, 0x1e)) : QPalette());
        QApplication::clipboard()->setText(u"before"_s);
        TunnelInstance tunnel(TunnelConfig::create("Web", 3000), m_services);
        m_notes.watch(&tunnel);
        tunnel.start();
        QTRY_COMPARE_WITH_TIMEOUT(tunnel.tunnelURLText(), url, slow);
        TunnelRowView row(&tunnel, {});
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        QPointer<QrCodePanel> panel;
        if (way.how.startsWith("qr")) {
            QTest::mouseClick(row.findChild<QToolButton*>("qrButton"), Qt::LeftButton);
            panel = row.findChild<QrCodePanel*>();
            QVERIFY(panel && panel->isVisible());
            // What zbarimg reads in the panel as it is drawn.
            QVERIFY(panel->grab().save(m_bin.filePath("panel.png")));
            QCOMPARE(run(u"zbarimg"_s, {"--raw", "-q", m_bin.filePath("panel.png")}), url);
            // Crisp: dark on white only, whole device pixels per module, at least 200 wide.
            const QImage code =
                panel->codeView()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY(code.width() >= QrCodeView::minimumSide * panel->devicePixelRatioF());
            const QImage mono = code.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
            QCOMPARE(code, mono.convertToFormat(QImage::Format_RGB32));
        }
        if (auto* button = row.findChild<QAbstractButton*>(way.how)) {
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            QTRY_COMPARE(run("dunstctl", {"count", "displayed"}),
                         way.how.contains("Other") ? "2" : "1");
            writeFile(qEnvironmentVariable("QUILLBY_MENU_CHOICE"), way.how.toUtf8());
            run("dunstctl", {way.how.startsWith("dunstctl") ? "action" : "context"});
        }
        const auto copied = [] { return run("xclip", {"-o", "-selection", "clipboard"}); };
        const auto opened = [this] { return run("cat", {m_bin.filePath("opened")}); };
        // What must happen first: what must not would have been done by the same handler.
        QTRY_VERIFY_WITH_TIMEOUT(way.copied   ? copied() == url
                                 : way.opened ? opened() == url
                                              : foreignInvoked,
                                 slow);
        QCOMPARE(copied(), way.copied ? url : "before");
        QCOMPARE(opened(), way.opened ? url : QString());
        tunnel.stop(); // which closes the QR code panel
        QTRY_VERIFY_WITH_TIMEOUT(!panel, slow);
    }
};

QTEST_MAIN(TestShare)
#include "tst_share.moc"
