// The status window on a real store and the scripted client: a tunnel row's states and its name
// and port commits with their silent reverts (the port rule itself is in tst_values), header
// count, empty state, add and delete, what showing the window again refreshes, the
// missing-client alert and its copy action, Launch at Login failing, and the scanner panel on a
// real listener of an ephemeral port, its "+ Tunnel" adding "Port N"; the sharing choices
// (password, time limit) through their menu piece, the row and the QR panel; a tunnel on the
// user's own domain from the address dialog to its removal. Copying the URL is in tst_share.
#include "ClientLines.h"
#include "ScriptedClient.h"
#include "TestSupport.h"
#include "model/AccountFiles.h"
#include "model/SettingsKeys.h"
#include "model/TunnelStore.h"
#include "platform/ClientInstallCommand.h"
#include "platform/XdgAutostartLoginItem.h"
#include "ui/AddressDialog.h"
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
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

using namespace ClientLines;
using namespace TestSupport;
using namespace Qt::StringLiterals;

namespace {
constexpr int slow = 15000; // a scan on a loaded machine
struct RowState {
    std::optional<QByteArray> output; // of the client; none: never started
    Theme::Named dot;
    bool connecting, url;
    QString line = {}; // the connecting line, or the problem line
};
struct Commit {
    bool port;
    QString typed, stored; // stored: the name or port afterwards
    bool accepted;
    int key = Qt::Key_Return; // committed on Return only
};
} // namespace
Q_DECLARE_METATYPE(RowState)
Q_DECLARE_METATYPE(Commit)

// A window on a store in a home of its own, torn down in reverse order.
struct Fixture {
    TempHome home;
    std::unique_ptr<QSettings> settings = home.settings();
    ScriptedClients clients;
    TunnelStore store{settings.get(),
                      {.findClient = fakeClientLocator(), .newClient = clients.factory()}};
    XdgAutostartLoginItem loginItem{{u"/opt/Quillby/quillby"_s}};
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
    // The children shown, top to bottom.
    template <typename T = QWidget> QList<T*> shown(QObject* in, const QString& name = {}) {
        QList<T*> list = in->findChildren<T*>(name);
        list.removeIf([](QWidget* w) { return w->isHidden(); });
        std::sort(list.begin(), list.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
        return list;
    }
    QList<TunnelRowView*> rows() { return shown<TunnelRowView>(&m_f->view); }
    QMessageBox* alert() { return m_f->view.cloudflaredMissingAlert(); }
    void showView() {
        m_f->view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_f->view));
    }
    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    // A row's dot colour, the info lines shown, and its button's text.
    void checkState(QWidget* row, Theme::Named dot, bool connecting, bool url) {
        auto* statusDot = child<StatusDot>("statusDot", row);
        QCOMPARE(statusDot->color(), Theme::named(dot, row->palette()));
        QCOMPARE(statusDot->isAnimating(), connecting);
        QCOMPARE(child<BusySpinner>("connectingSpinner", row)->isAnimating(), connecting);
        QCOMPARE(child("connectingLine", row)->isVisible(), connecting);
        QCOMPARE(child("urlLine", row)->isVisible(), url);
        QCOMPARE(child<QToolButton>("startStopButton", row)->text(),
                 dot == Theme::Named::Gray ? "Start" : "Stop");
    }

    // The latest client prints the URL and registers.
    void registers() { m_f->clients.latest()->print(urlBox + at(registered)); }

private slots:
    void init() {
        m_f = std::make_unique<Fixture>();
        showView();
    }
    void cleanup() {
        m_f->store.stopAll();
        QTRY_VERIFY(!m_f->store.hasLiveChildren());
        m_f.reset();
    }

    void rowStates_data() {
        QTest::addColumn<RowState>("r");
        using enum Theme::Named;
        QTest::newRow("stopped") << RowState{{}, Gray, false, false};
        QTest::newRow("connecting") << RowState{"", Orange, true, false, "Connecting..."};
        // The URL known, the edge unreachable: URL, connecting line and problem.
        QTest::newRow("edge unreachable") << RowState{
            urlBox + quicTimeout2023, Orange, true, true,
            "The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked"};
        // Every connection lost after it was active.
        QTest::newRow("reconnecting")
            << RowState{urlBox + at(registered) + lost2026, Orange, true, true, "Reconnecting..."};
        QTest::newRow("running") << RowState{urlBox + at(registered), Green, false, true};
    }
    void rowStates() {
        QFETCH(RowState, r);
        TunnelRowView* row = rows().front();
        auto* problem = child<QLabel>("problemLine", row);
        auto* connectingText = child("connectingLine", row)->findChild<QLabel*>();
        if (r.output) {
            click(child("startStopButton", row));
            m_f->clients.latest()->print(*r.output);
        }
        QVERIFY(r.line.isEmpty() || problem->text() == r.line || connectingText->text() == r.line);
        checkState(row, r.dot, r.connecting, r.url);
        if (r.url) { // on one line, middle-elided and selectable
            auto* label = child<ElidedLabel>("urlLabel", row);
            QCOMPARE(label->fullText(), url);
            QTRY_VERIFY(label->text().contains(QChar(0x2026)));
            QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        }
        // The problem's whole text in its tooltip.
        QCOMPARE(problem->isVisible(), !problem->toolTip().isEmpty());
        if (!r.output)
            return;
        // Stopped again: no animation, the dot at full opacity; a problem is kept until the
        // next start.
        click(child("startStopButton", row));
        QTRY_VERIFY(!row->instance()->isRunning());
        checkState(row, Theme::Named::Gray, false, false);
        QCOMPARE(child<StatusDot>("statusDot", row)->opacity(), 1.0);
        if (r.line.startsWith("The tunnel"_L1))
            QVERIFY(problem->isVisible() && problem->text() == r.line);
    }

    void sharingChoices() {
        TunnelRowView* row = rows().front();
        TunnelInstance* tunnel = row->instance();
        QMenu menu;
        TunnelShareMenu::addTo(&menu, tunnel);
        auto* stopAfter = child<QMenu>("stopAfterMenu", &menu);
        QVERIFY(!stopAfter->isEnabled()); // nothing to count from while stopped
        tunnel->start();
        registers();
        child<QAction>("requirePasswordAction", &menu)->trigger();
        QVERIFY(!tunnel->password().isEmpty());
        emit menu.aboutToShow();
        stopAfter->actions().at(0)->trigger(); // 15 minutes
        auto* line = child<QLabel>("stopsLine", row);
        auto* timer = child<QTimer>("stopsTimer", row);
        QCOMPARE(line->text(), "Stops in 15 min");
        QVERIFY(line->isVisible() && timer->isActive());
        m_f->view.hide(); // no ticking while nobody looks
        QVERIFY(!timer->isActive());
        showView();
        QVERIFY(timer->isActive());
        emit menu.aboutToShow();
        QVERIFY(stopAfter->actions().at(0)->isChecked() &&
                !stopAfter->actions().at(3)->isChecked());

        click(child("qrButton", row));
        auto* panel = m_f->view.findChild<QrCodePanel*>();
        QVERIFY(panel && panel->isVisible());
        QCOMPARE(child<QLabel>("qrUserLabel", panel)->text(), "quillby");
        QCOMPARE(child<QLabel>("qrPasswordLabel", panel)->text(), tunnel->password());
        click(child("qrCopyPasswordButton", panel));
        QCOMPARE(QApplication::clipboard()->text(), tunnel->password());
        panel->close();

        stopAfter->actions().at(3)->trigger(); // until stopped
        QVERIFY(line->isHidden() && !timer->isActive() && tunnel->stopsAt().isNull());
        child<QAction>("requirePasswordAction", &menu)->trigger();
        QVERIFY(tunnel->password().isEmpty() && !tunnel->config().password);
    }

    // Shown again: the fields refilled from the configuration, the server looked at again, and
    // the missing-client alert raised; the add button raises it too, and then adds nothing. The
    // alert's texts are in tst_language.
    void showingAgainRefreshesAndAlerts() {
        TunnelInstance* tunnel = rows().front()->instance();
        auto* name = child<QLineEdit>("nameField", rows().front());
        const quint16 port = closedPort();
        tunnel->updatePort(port);
        tunnel->start();
        QTRY_COMPARE(tunnel->problem(), u"Nothing answers on port %1"_s.arg(port));
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, port));
        name->setText("Unsaved");
        m_f->view.hide();
        m_f->findClient = missingClientLocator();
        showView();
        QCOMPARE(name->text(), "Tunnel");
        QTRY_COMPARE(tunnel->problem(), QString());
        QTRY_VERIFY(alert() && alert()->isVisible());
        child<QPushButton>("okButton", alert())->click();
        QTRY_VERIFY(!alert());
        click(child("addButton"));
        QTRY_VERIFY(alert() && alert()->isVisible());
        QCOMPARE(m_f->store.instances().size(), size_t(1));
        child<QPushButton>("copyInstallCommandButton", alert())->click();
        QCOMPARE(QApplication::clipboard()->text(), createPlatformInstallCommand()->command());
        QTRY_VERIFY(!alert());
    }

    void rowCommit_data() {
        QTest::addColumn<Commit>("c");
        QTest::newRow("name trimmed") << Commit{false, "\t Api  ", "Api", true};
        QTest::newRow("only blanks") << Commit{false, " \t \t", "Tunnel", false};
        QTest::newRow("plus sign") << Commit{true, "+8080", "8080", true};
        QTest::newRow("too high") << Commit{true, "65536", "8000", false};
        QTest::newRow("name left by Tab") << Commit{false, "Draft", "Tunnel", false, Qt::Key_Tab};
        QTest::newRow("port left by Tab") << Commit{true, "3000", "8000", false, Qt::Key_Tab};
    }
    void rowCommit() {
        QFETCH(Commit, c);
        const auto& [port, typed, stored, accepted, key] = c;
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

    // The count of running tunnels, in colours that follow a switch to the dark palette.
    void headerCountsRunningTunnels() {
        m_f->store.addTunnel("Second", 3000);
        auto* count = child<QLabel>("activeCountLabel");
        QVERIFY(count->isHidden());
        for (TunnelInstance* tunnel : m_f->store.instances())
            tunnel->start(), registers();
        QTRY_COMPARE(count->text(), "2 active");
        m_f->view.setPalette(QPalette(QColor(0x1e, 0x1e, 0x1e)));
        QCOMPARE(count->palette().color(QPalette::WindowText),
                 Theme::named(Theme::Named::Green, m_f->view.palette()));
        QCOMPARE(child("urlLabel", rows().front())->palette().color(QPalette::WindowText),
                 Theme::secondary(rows().front()->palette()));
        // The count stays until the last running tunnel's exit has been handled.
        m_f->store.instances().front()->stop();
        QTRY_COMPARE(count->text(), "1 active");
        m_f->store.instances().back()->stop();
        QTRY_VERIFY(count->isHidden());
    }

    // The address dialog refuses what is no host name; the row shows the steps of the first
    // start, then https://HOST; a problem's button does what it says (never by itself);
    // removal asks whether the named tunnel goes from the account too.
    void ownDomain_data() {
        QTest::addColumn<QString>("button"); // what the problem offers; none when empty
        QTest::addColumn<bool>("deleteRemote");
        QTest::newRow("set up, kept") << QString() << false;
        QTest::newRow("host taken") << u"Take Over"_s << true;
        QTest::newRow("not signed in") << u"Sign In..."_s << true;
    }
    void ownDomain() {
        QFETCH(QString, button);
        QFETCH(bool, deleteRemote);
        AccountApi account(button == "Take Over" ? "taken" : "ok"); // taken: routed elsewhere
        if (button != "Sign In...")
            writeFile(AccountFiles::loginCertificatePath(), certificate);
        TunnelRowView* row = rows().front();
        TunnelInstance* tunnel = row->instance();
        child<QAction>("addressAction", row)->trigger();
        auto* dialog = m_f->view.findChild<AddressDialog*>();
        auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QTest::keyClicks(child("hostnameField", dialog), " Dev.Example.");
        QVERIFY(!ok->isEnabled());
        QTest::keyClicks(child("hostnameField", dialog), "com");
        click(ok);
        QCOMPARE(tunnel->publicHostname(), "dev.example.com");
        QStringList shown; // the connecting line at each change
        QObject scope;
        connect(tunnel, &TunnelInstance::changed, &scope, [&] {
            if (child("connectingLine", row)->isVisible())
                shown << child("connectingLine", row)->findChild<QLabel*>()->text();
        });
        click(child("startStopButton", row));
        auto* action = child<QToolButton>("problemActionButton", row);
        if (!button.isEmpty()) {
            QTRY_VERIFY(action->isVisible());
            QCOMPARE(action->text(), button);
            QVERIFY(!m_f->clients.latest() && !tunnel->isRunning());
            click(action);
        }
        QTRY_VERIFY(m_f->clients.latest());
        registers();
        QCOMPARE(child<ElidedLabel>("urlLabel", row)->fullText(), "https://dev.example.com");
        checkState(row, Theme::Named::Green, false, true);
        QVERIFY(action->isHidden());
        shown.removeDuplicates();
        QCOMPARE(shown, QStringList({"Creating the tunnel…", "Pointing dev.example.com at it…",
                                     "Connecting..."}));
        click(child("deleteButton", row));
        auto* ask = m_f->view.findChild<QMessageBox*>("removeNamedPrompt");
        click(child(deleteRemote ? "deleteRemoteButton" : "keepRemoteButton", ask));
        QTRY_COMPARE(rows().size(), 0);
        QTRY_COMPARE(account.calls("DELETE"), int(deleteRemote));
    }

    void emptyStateAddAndDelete() {
        QCOMPARE(rows().size(), 1); // the default tunnel
        QVERIFY(child("emptyState")->isHidden());
        click(child("deleteButton", rows().front()));
        QTRY_COMPARE(rows().size(), 0);
        QVERIFY(child("emptyState")->isVisible());
        click(child("addButton"));
        QCOMPARE(m_f->store.instances().size(), size_t(1));
        QTRY_COMPARE(rows().size(), 1);
        QVERIFY(child("emptyState")->isHidden());
        // The list stops growing at its limit.
        for (int i = 0; i < 12; ++i)
            m_f->store.addTunnel(u"T%1"_s.arg(i), 3000 + i);
        QTRY_COMPARE(child("tunnelList")->height(), TunnelListView::maxListHeight);
    }

    // A file where the autostart folder should be: the box goes back to unticked. Writing and
    // removing the entry are in tst_loginitem.
    void launchAtLoginFails() {
        writeFile(m_f->home.configHome() + "/autostart", {});
        auto* box = child<QCheckBox>("launchAtLogin");
        box->click();
        QVERIFY(!box->isChecked() && !m_f->loginItem.isEnabled());
    }

    // Scans only on request, refresh disabled meanwhile and a second request ignored; "+ Tunnel"
    // on an open port. Their order is tst_portscanner's.
    void scannerPanelAndSection() {
        QTcpServer open;
        QVERIFY(open.listen(QHostAddress::LocalHost));
        const quint16 port = open.serverPort();
        PortScannerSection* section = m_f->view.scannerSection();
        section->setScanPorts({port});
        click(child("scannerToggle"));
        PortScannerView* panel = section->panel();
        auto* hint = child<QLabel>("scanHint", panel);
        auto* refresh = child<QToolButton>("refreshButton", panel);
        // Clicks land only once the panel has folded out all the way.
        const auto whole = [](QWidget* w) {
            return w->visibleRegion().boundingRect() == w->rect();
        };
        QTRY_VERIFY(refresh->isVisible() && whole(refresh));
        QVERIFY(hint->isVisible() && !panel->isScanning() && !panel->hasScanned());
        QSignalSpy finished(panel, &PortScannerView::scanFinished);
        click(refresh);
        QVERIFY(panel->isScanning() && !refresh->isEnabled() && hint->isVisible());
        panel->startScan();
        QVERIFY(finished.wait(slow) && finished.size() == 1);
        QVERIFY(!panel->isScanning() && refresh->isEnabled() && hint->isHidden());
        const QList<QWidget*> rows = shown(panel, "portRow");
        QCOMPARE(rows.size(), 1);
        QCOMPARE(child<QLabel>("portAddress", rows[0])->text(), u"localhost:%1"_s.arg(port));
        auto* add = child<QToolButton>("addPortButton", rows[0]);
        QTRY_VERIFY(whole(add));
        click(add);
        const TunnelConfig added = m_f->store.instances().back()->config();
        QCOMPARE(added.name + ' ' + QString::number(added.port), u"Port %1 %1"_s.arg(port));
        QCOMPARE(section->panel(), panel);
    }
};

QTEST_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
