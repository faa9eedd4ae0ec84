// The status window on a real store and the stand-in client: a tunnel row's three states and
// its name and port commits with their silent reverts (the port rule itself is in tst_values),
// header count, empty state, add and delete, Tab order, the missing-client alert and its copy
// action, Launch at Login with the real autostart entry, and the scanner panel's states on real
// listeners of ephemeral ports, its "+ Tunnel" adding "Port N"; the sharing choices (password,
// time limit) through their menu piece, the row and the QR panel.
#include "TestSupport.h"
#include "model/SettingsKeys.h"
#include "model/TunnelStore.h"
#include "platform/ClientInstallCommand.h"
#include "platform/XdgAutostartLoginItem.h"
#include "ui/BusySpinner.h"
#include "ui/ElidedLabel.h"
#include "ui/PortScannerSection.h"
#include "ui/PortScannerView.h"
#include "ui/QrCodePanel.h"
#include "ui/StatusDot.h"
#include "ui/StatusMenuView.h"
#include "ui/Theme.h"
#include "ui/TunnelListView.h"
#include "ui/TunnelRowView.h"
#include "ui/TunnelShareMenu.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

using namespace TestSupport;

namespace {
constexpr int slow = 15000;
const QString fakeUrl = QStringLiteral("https://fare-write-waste-gadgets.trycloudflare.com");
} // namespace

// The children shown, top to bottom.
template <typename T> QList<T*> shownChildren(QObject* in, const QString& name = {}) {
    QList<T*> list = in->findChildren<T*>(name);
    list.removeIf([](QWidget* w) { return w->isHidden(); });
    std::sort(list.begin(), list.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
    return list;
}

// A window on a store in a home of its own, torn down in reverse order.
struct Fixture {
    TempHome home;
    std::unique_ptr<QSettings> settings = home.settings();
    TunnelStore store{settings.get(), {fakeClientLocator()}};
    XdgAutostartLoginItem loginItem{{QStringLiteral("/opt/Quillby/quillby")}};
    ClientLocator findClient = fakeClientLocator();
    StatusMenuView view{&store, &loginItem, [this] { return findClient(); }};
};

class TestStatusMenu : public QObject {
    Q_OBJECT

    std::unique_ptr<Fixture> m_f;

    template <typename T = QWidget> T* child(const char* name, QObject* in = nullptr) {
        T* found = (in ? in : &m_f->view)->findChild<T*>(QLatin1String(name));
        return found ? found : (qFatal("no child %s", name), nullptr);
    }
    QList<TunnelRowView*> rows() { return shownChildren<TunnelRowView>(&m_f->view); }
    QMessageBox* alert() { return m_f->view.cloudflaredMissingAlert(); }
    void showView() {
        m_f->view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_f->view));
    }
    // A row's dot colour, the info lines shown, and its button: green "Start" or red "Stop".
    void checkState(QWidget* row, Theme::Named dot, bool connecting, bool url) {
        const bool running = dot != Theme::Named::Gray;
        auto* button = child<QToolButton>("startStopButton", row);
        QCOMPARE(child<StatusDot>("statusDot", row)->color(), Theme::named(dot, row->palette()));
        QCOMPARE(child<StatusDot>("statusDot", row)->isAnimating(), connecting);
        QCOMPARE(child("connectingLine", row)->isVisible(), connecting);
        QCOMPARE(child("urlLine", row)->isVisible(), url);
        QCOMPARE(button->text(), running ? QStringLiteral("Stop") : QStringLiteral("Start"));
        QCOMPARE(button->palette().color(QPalette::ButtonText),
                 Theme::named(running ? Theme::Named::Red : Theme::Named::Green, row->palette()));
    }

private slots:
    void init() {
        for (const char* name : {"FAKE_CF_MODE", "FAKE_CF_INTERVAL_MS", "FAKE_CF_OUTAGE_MS"})
            qunsetenv(name);
        m_f = std::make_unique<Fixture>();
    }
    void cleanup() {
        m_f->store.stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(!m_f->store.hasLiveChildren(), slow);
        m_f.reset();
    }

    void rowStates_data() {
        QTest::addColumn<QByteArrayList>("env"); // of the client; empty: never started
        QTest::addColumn<int>("named");          // the dot's colour
        QTest::addColumn<bool>("connecting");
        QTest::addColumn<bool>("url");
        QTest::addColumn<QString>("line"); // the connecting line, or the problem line
        const auto row = [](const char* tag, QByteArrayList env, Theme::Named dot, bool connecting,
                            bool url, const char* line = "") {
            QTest::newRow(tag) << env << int(dot) << connecting << url << QString::fromUtf8(line);
        };
        using enum Theme::Named;
        row("stopped", {}, Gray, false, false);
        row("connecting", {"FAKE_CF_MODE=no-url"}, Orange, true, false, "Connecting...");
        // The URL known, the edge unreachable: URL, connecting line and problem.
        row("edge unreachable", {"FAKE_CF_MODE=edge-timeout", "FAKE_CF_INTERVAL_MS=50"}, Orange,
            true, true,
            "The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked");
        // Every connection lost after it was active.
        row("reconnecting", {"FAKE_CF_MODE=lost", "FAKE_CF_OUTAGE_MS=60000"}, Orange, true, true,
            "Reconnecting...");
        row("running", {"FAKE_CF_MODE=url"}, Green, false, true);
    }
    void rowStates() {
        QFETCH(QByteArrayList, env);
        QFETCH(int, named);
        const auto dot = Theme::Named(named);
        QFETCH(bool, connecting);
        QFETCH(bool, url);
        QFETCH(QString, line);
        for (const QByteArray& pair : env)
            qputenv(pair.left(pair.indexOf('=')), pair.mid(pair.indexOf('=') + 1));
        showView();
        TunnelRowView* row = rows().front();
        auto* startStop = child<QToolButton>("startStopButton", row);
        auto* problem = child<QLabel>("problemLine", row);
        auto* connectingText = child("connectingLine", row)->findChild<QLabel*>();
        if (!env.isEmpty())
            QTest::mouseClick(startStop, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            child<StatusDot>("statusDot", row)->color() == Theme::named(dot, row->palette()) &&
                child("urlLine", row)->isVisible() == url &&
                (line.isEmpty() || problem->text() == line || connectingText->text() == line),
            slow);
        checkState(row, dot, connecting, url);
        QCOMPARE(child<BusySpinner>("connectingSpinner", row)->isAnimating(), connecting);
        if (url) { // on one line, middle-elided and selectable, and its copy button
            auto* label = child<ElidedLabel>("urlLabel", row);
            QCOMPARE(label->fullText(), fakeUrl);
            QTRY_VERIFY(label->text().contains(QChar(0x2026)));
            QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
            QApplication::clipboard()->setText(QStringLiteral("something else"));
            QTest::mouseClick(child<QToolButton>("copyButton", row), Qt::LeftButton);
            QCOMPARE(QApplication::clipboard()->text(), fakeUrl);
        }
        // The problem's whole text in its tooltip.
        QCOMPARE(problem->isVisible(), !problem->toolTip().isEmpty());
        if (env.isEmpty())
            return;
        // Stopped again: no animation, the dot at full opacity; a problem is kept until the
        // next start.
        QTest::mouseClick(startStop, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!row->instance()->isRunning(), slow);
        checkState(row, Theme::Named::Gray, false, false);
        QCOMPARE(child<StatusDot>("statusDot", row)->opacity(), 1.0);
        if (line.startsWith(QLatin1String("The tunnel")))
            QVERIFY(problem->isVisible() && problem->text() == line);
    }

    // With QUILLBY_SCREENSHOTS set, the panel and the row are saved there as PNGs.
    void sharingChoices() {
        showView();
        TunnelRowView* row = rows().front();
        TunnelInstance* tunnel = row->instance();
        QMenu menu;
        TunnelShareMenu::addTo(&menu, tunnel);
        auto* stopAfter = child<QMenu>("stopAfterMenu", &menu);
        QVERIFY(!stopAfter->isEnabled()); // nothing to count from while stopped
        tunnel->start();
        QTRY_VERIFY_WITH_TIMEOUT((tunnel->state() == TunnelInstance::State::Active), slow);
        const qint64 pid = tunnel->childPid();
        child<QAction>("requirePasswordAction", &menu)->trigger();
        QVERIFY(!tunnel->password().isEmpty() && tunnel->childPid() == pid);
        QVERIFY(m_f->settings->value(SettingsKeys::tunnelConfigs)
                    .toByteArray()
                    .contains("\"password\":true"));
        emit menu.aboutToShow();
        QVERIFY(stopAfter->isEnabled());
        stopAfter->actions().at(0)->trigger(); // 15 minutes
        auto* line = child<QLabel>("stopsLine", row);
        auto* timer = child<QTimer>("stopsTimer", row);
        QCOMPARE(line->text(), QStringLiteral("Stops in 15 min"));
        QVERIFY(line->isVisible() && timer->isActive());
        m_f->view.hide();
        QVERIFY(!timer->isActive());
        showView();
        QVERIFY(timer->isActive());
        emit menu.aboutToShow();
        QVERIFY(stopAfter->actions().at(0)->isChecked() &&
                !stopAfter->actions().at(3)->isChecked());

        QTest::mouseClick(child<QToolButton>("qrButton", row), Qt::LeftButton);
        auto* panel = m_f->view.findChild<QrCodePanel*>();
        QVERIFY(panel && panel->isVisible());
        QCOMPARE(child<QLabel>("qrUserLabel", panel)->text(), QStringLiteral("quillby"));
        QCOMPARE(child<QLabel>("qrPasswordLabel", panel)->text(), tunnel->password());
        QTest::mouseClick(child<QPushButton>("qrCopyPasswordButton", panel), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), tunnel->password());
        if (const QString dir = qEnvironmentVariable("QUILLBY_SCREENSHOTS"); !dir.isEmpty()) {
            panel->grab().save(dir + QStringLiteral("/qr-panel-password.png"));
            row->grab().save(dir + QStringLiteral("/row-time-limit.png"));
        }
        panel->close();
        QTest::mouseClick(child<QToolButton>("copyButton", row), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), fakeUrl);

        stopAfter->actions().at(3)->trigger(); // until stopped
        QVERIFY(line->isHidden() && !timer->isActive() && tunnel->stopsAt().isNull());
        child<QAction>("requirePasswordAction", &menu)->trigger();
        QVERIFY(tunnel->password().isEmpty() && !tunnel->config().password);
    }

    void originIsLookedAtAgainWhenShown() {
        showView();
        TunnelInstance* tunnel = rows().front()->instance();
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        server.close();
        tunnel->updatePort(port);
        tunnel->start();
        QTRY_COMPARE(tunnel->problem(), QStringLiteral("Nothing answers on port %1").arg(port));
        QVERIFY(server.listen(QHostAddress::LocalHost, port));
        m_f->view.hide();
        m_f->view.show();
        QTRY_COMPARE(tunnel->problem(), QString());
    }

    void rowCommit_data() {
        QTest::addColumn<bool>("port");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // the name or port afterwards
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("key"); // committed on Return only
        const auto row = [](const char* tag, bool port, QString typed, QString stored,
                            bool accepted, int key = Qt::Key_Return) {
            QTest::newRow(tag) << port << typed << stored << accepted << key;
        };
        row("name trimmed", false, "\t Api  ", "Api", true);
        row("only blanks", false, " \t \t", "Tunnel", false);
        row("plus sign", true, "+8080", "8080", true);
        row("too high", true, "65536", "8000", false);
        row("space before", true, " 8080", "8000", false);
        row("name left by Tab", false, "Draft", "Tunnel", false, Qt::Key_Tab);
        row("port left by Tab", true, "3000", "8000", false, Qt::Key_Tab);
    }
    void rowCommit() {
        QFETCH(bool, port);
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(bool, accepted);
        QFETCH(int, key);
        showView();
        auto* edit = child<QLineEdit>(port ? "portField" : "nameField", rows().front());
        edit->setFocus();
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key(key));
        const TunnelConfig& config = m_f->store.instances().front()->config();
        QCOMPARE(port ? QString::number(config.port) : config.name, stored);
        // Saved at once.
        const QByteArray saved = m_f->settings->value(SettingsKeys::tunnelConfigs).toByteArray();
        QCOMPARE(decodeTunnelConfigs(saved).value().front(), config);
        // An accepted edit or a draft stays as typed; a rejected one shows the stored value again.
        QCOMPARE(edit->text(), accepted || key == Qt::Key_Tab ? typed : stored);
    }

    void headerCountsRunningTunnels() {
        m_f->store.addTunnel(QStringLiteral("Second"), 3000);
        showView();
        auto* count = child<QLabel>("activeCountLabel");
        QVERIFY(count->isHidden());
        for (TunnelInstance* tunnel : m_f->store.instances())
            tunnel->start();
        QTRY_COMPARE(count->text(), QStringLiteral("2 active"));
        QVERIFY(count->isVisible());
        // Colours follow a switch to the dark palette and back.
        TunnelRowView* row = rows().front();
        QTRY_VERIFY_WITH_TIMEOUT((row->instance()->state() != TunnelInstance::State::Connecting),
                                 slow);
        for (const QColor window : {QColor(0x1e, 0x1e, 0x1e), QColor(Qt::white)}) {
            m_f->view.setPalette(QPalette(window));
            QCOMPARE(count->palette().color(QPalette::WindowText),
                     Theme::named(Theme::Named::Green, m_f->view.palette()));
            QCOMPARE(child("urlLabel", row)->palette().color(QPalette::WindowText),
                     Theme::secondary(row->palette()));
            checkState(row, Theme::Named::Green, false, true);
        }
        // The count stays until the last running tunnel's exit has been handled.
        m_f->store.instances().front()->stop();
        QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("1 active"), slow);
        m_f->store.instances().back()->stop();
        QTRY_VERIFY_WITH_TIMEOUT(count->isHidden(), slow);
        QVERIFY(!alert()); // the client is installed
    }

    void emptyStateAddAndDelete() {
        showView();
        QCOMPARE(rows().size(), 1); // the default tunnel
        QVERIFY(child("emptyState")->isHidden());
        QTest::mouseClick(child<QToolButton>("deleteButton", rows().front()), Qt::LeftButton);
        QTRY_COMPARE(rows().size(), 0);
        QVERIFY(child("emptyState")->isVisible());

        QTest::mouseClick(child<QToolButton>("addButton"), Qt::LeftButton);
        QCOMPARE(m_f->store.instances().size(), size_t(1));
        QTRY_COMPARE(rows().size(), 1);
        QVERIFY(child("emptyState")->isHidden());
        // Fields are refilled from the configuration each time the window is shown.
        auto* name = child<QLineEdit>("nameField", rows().front());
        name->setText(QStringLiteral("Unsaved"));
        m_f->view.hide();
        m_f->view.show();
        QCOMPARE(name->text(), QStringLiteral("Tunnel"));

        // Rows follow the list's order; the list stops growing at its limit.
        for (int i = 0; i < 12; ++i)
            m_f->store.addTunnel(QStringLiteral("T%1").arg(i), 3000 + i);
        QTRY_COMPARE(rows().size(), 13);
        QCOMPARE(rows().back()->instance(), m_f->store.instances().back());
        QTRY_COMPARE(child("tunnelList")->height(), TunnelListView::maxListHeight);
        QCOMPARE(m_f->view.width(), StatusMenuView::windowWidth);
    }

    void tabFollowsTheVisualOrder() {
        // Rows added after the window was built still come before the controls below them.
        showView();
        m_f->store.addTunnel(QStringLiteral("Second"), 3000);
        QTRY_COMPARE(rows().size(), 2);
        m_f->view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_f->view));
        child("addButton")->setFocus(Qt::TabFocusReason);
        QList<QWidget*> visited;
        for (int i = 0; i < 40 && !visited.contains(QApplication::focusWidget()); ++i) {
            visited << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(QApplication::focusWidget(), child("addButton")); // round and back
        QList<qsizetype> order;
        for (TunnelRowView* row : rows()) {
            for (const char* name : {"nameField", "portField", "deleteButton"})
                order << visited.indexOf(child(name, row));
        }
        order << visited.indexOf(child("launchAtLogin")) << visited.indexOf(child("quitButton"));
        QVERIFY(!order.contains(-1) && std::is_sorted(order.begin(), order.end()));
        QTest::keyClick(child("addButton"), Qt::Key_Backtab); // and back the same way
        QCOMPARE(QApplication::focusWidget(), visited.back());
    }

    void missingClientAlertOnShowAndAdd() {
        m_f->findClient = missingClientLocator();
        showView();
        QTRY_VERIFY(alert() && alert()->isVisible());
        // Its texts, in English and German, are in tst_language.
        child<QPushButton>("okButton", alert())->click();
        QTRY_VERIFY(!alert());

        // The add button raises it again and adds nothing; its copy action fills the clipboard.
        QTest::mouseClick(child<QToolButton>("addButton"), Qt::LeftButton);
        QTRY_VERIFY(alert() && alert()->isVisible());
        QCOMPARE(m_f->store.instances().size(), size_t(1));
        QApplication::clipboard()->setText(QStringLiteral("previous"));
        child<QPushButton>("copyInstallCommandButton", alert())->click();
        QCOMPARE(QApplication::clipboard()->text(), createPlatformInstallCommand()->command());
        QTRY_VERIFY(!alert());
    }

    void launchAtLoginWritesRemovesAndFails() {
        showView();
        auto* box = child<QCheckBox>("launchAtLogin");
        QVERIFY(!box->isChecked());
        box->click();
        QVERIFY(QFile::exists(XdgAutostartLoginItem::entryPath()));
        box->click();
        QVERIFY(!QFile::exists(XdgAutostartLoginItem::entryPath()));

        // A file where the autostart folder should be: the box goes back to unticked.
        QFile blocker(m_f->home.configHome() + QStringLiteral("/autostart"));
        QVERIFY(QDir(blocker.fileName()).removeRecursively() && blocker.open(QIODevice::WriteOnly));
        box->click();
        QVERIFY(!box->isChecked());
        QVERIFY(!m_f->loginItem.isEnabled());
    }

    void scannerPanelAndSection() {
        QTcpServer low, high;
        QVERIFY(low.listen(QHostAddress::LocalHost) && high.listen(QHostAddress::LocalHost));
        const auto ports = std::minmax<qint64>({low.serverPort(), high.serverPort()});
        showView();
        PortScannerSection* section = m_f->view.scannerSection();
        section->setScanPorts({ports.second, ports.first});
        QTest::mouseClick(child<QToolButton>("scannerToggle"), Qt::LeftButton);
        PortScannerView* panel = section->panel();
        QVERIFY(panel);
        auto* hint = child<QLabel>("scanHint", panel);
        auto* refresh = child<QToolButton>("refreshButton", panel);
        // Clicks land only once the panel has folded out all the way.
        const auto shown = [](QWidget* w) {
            return w->visibleRegion().boundingRect() == w->rect();
        };
        QTRY_VERIFY(refresh->isVisible() && shown(refresh));
        QCOMPARE(hint->text(), QStringLiteral("Click refresh to scan ports"));
        QVERIFY(!panel->isScanning() && !panel->hasScanned()); // scans only on request

        // Scanning: hint kept, a spinner instead of the arrow, refresh disabled, a second
        // request ignored; then the open ports in ascending order.
        QSignalSpy finished(panel, &PortScannerView::scanFinished);
        QTest::mouseClick(refresh, Qt::LeftButton);
        QVERIFY(panel->isScanning() && !refresh->isEnabled() && hint->isVisible());
        QTRY_VERIFY(child("scanSpinner", panel)->isVisible());
        panel->startScan();
        QVERIFY(finished.wait(slow));
        QCOMPARE(finished.size(), 1);
        QVERIFY(!panel->isScanning() && refresh->isEnabled() && hint->isHidden());
        const auto visibleRows = [&] { return shownChildren<QWidget>(panel, "portRow"); };
        const QList<QWidget*> rows = visibleRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(child<QLabel>("portAddress", rows[0])->text(),
                 QStringLiteral("localhost:%1").arg(ports.first));
        QCOMPARE(child<QLabel>("portAddress", rows[1])->text(),
                 QStringLiteral("localhost:%1").arg(ports.second));

        // "+ Tunnel" adds "Port N" at the end; the panel stays open with its list.
        const auto add = [&](int i) { return child<QToolButton>("addPortButton", rows[i]); };
        QTRY_VERIFY(shown(add(0)) && shown(add(1)));
        QTest::mouseClick(add(0), Qt::LeftButton);
        const TunnelConfig added = m_f->store.instances().back()->config();
        QCOMPARE(added.name, QStringLiteral("Port %1").arg(ports.first));
        QCOMPARE(added.port, ports.first);
        QCOMPARE(section->panel(), panel);

        // Rescan: the old rows stay (and work) until the new result replaces them.
        low.close();
        high.close();
        QTest::mouseClick(refresh, Qt::LeftButton);
        QVERIFY(panel->isScanning());
        QCOMPARE(visibleRows().size(), 2);
        QTest::mouseClick(add(1), Qt::LeftButton);
        QCOMPARE(m_f->store.instances().back()->config().port, ports.second);
        QVERIFY(finished.wait(slow));
        QVERIFY(visibleRows().isEmpty() && hint->isVisible());
        QCOMPARE(hint->text(), QStringLiteral("No open ports found"));

        // Folded away and in again: a fresh panel.
        QTest::mouseClick(child<QToolButton>("scannerToggle"), Qt::LeftButton);
        QTRY_VERIFY(!section->panel());
        QTest::mouseClick(child<QToolButton>("scannerToggle"), Qt::LeftButton);
        QVERIFY(section->panel() && !section->panel()->hasScanned());
    }
};

QTEST_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
