// The status window's content on a real store: header count, empty state, add and delete, the
// missing-client alert and its copy action, the list's height limit, Launch at Login with the
// real autostart entry, and the scanner section turning a listening port into "Port N".
#include "TestSupport.h"
#include "model/TunnelStore.h"
#include "platform/XdgAutostartLoginItem.h"
#include "ui/PortScannerSection.h"
#include "ui/PortScannerView.h"
#include "ui/StatusMenuView.h"
#include "ui/Theme.h"
#include "ui/TunnelRowView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>

using namespace TestSupport;

namespace {

constexpr int slow = 15000;

} // namespace

class TestStatusMenu : public QObject {
    Q_OBJECT

    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<TunnelStore> m_store;
    std::unique_ptr<XdgAutostartLoginItem> m_loginItem;
    std::unique_ptr<StatusMenuView> m_view;
    bool m_clientInstalled = true;

    template <typename T> T* child(const char* name) {
        T* found = m_view->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }
    QList<TunnelRowView*> rows() {
        QList<TunnelRowView*> visible;
        for (auto* row : m_view->findChildren<TunnelRowView*>()) {
            if (!row->isHidden())
                visible << row;
        }
        std::sort(visible.begin(), visible.end(),
                  [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
        return visible;
    }
    QMessageBox* alert() { return m_view->cloudflaredMissingAlert(); }

    void showView() {
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void stopAllAndWait() {
        m_store->stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->hasLiveChildren(), slow);
    }

private slots:
    void init() {
        qunsetenv("FAKE_CF_MODE");
        m_clientInstalled = true;
        m_home = std::make_unique<TempHome>();
        m_settings = m_home->settings();
        m_store = std::make_unique<TunnelStore>(
            m_settings.get(), TunnelInstance::Services{fakeClientLocator(), nullptr});
        m_loginItem = std::make_unique<XdgAutostartLoginItem>(
            QStringList{QStringLiteral("/opt/Quillby/quillby")});
        m_view = std::make_unique<StatusMenuView>(m_store.get(), m_loginItem.get(), [this] {
            return m_clientInstalled ? std::optional<QString>(fakeClientPath()) : std::nullopt;
        });
    }
    void cleanup() {
        if (m_store)
            stopAllAndWait();
        m_view.reset();
        m_store.reset();
        m_settings.reset();
        m_home.reset();
    }

    void headerCountsRunningTunnels() {
        m_store->addTunnel(QStringLiteral("Second"), 3000);
        showView();
        auto* count = child<QLabel>("activeCountLabel");
        QCOMPARE(child<QLabel>("titleLabel")->text(), QStringLiteral("Tunnels"));
        QVERIFY(count->isHidden());
        QCOMPARE(child<QToolButton>("addButton")->toolTip(), QStringLiteral("Add tunnel"));

        for (TunnelInstance* tunnel : m_store->instances())
            tunnel->start();
        QTRY_VERIFY(count->isVisible());
        QCOMPARE(count->text(), QStringLiteral("2 active"));
        QCOMPARE(count->palette().color(QPalette::WindowText),
                 Theme::named(Theme::Named::Green, m_view->palette()));

        // The count stays until the last running tunnel's exit has been handled.
        m_store->instances().front()->stop();
        QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("1 active"), slow);
        m_store->instances().back()->stop();
        QTRY_VERIFY_WITH_TIMEOUT(count->isHidden(), slow);
    }

    void emptyStateAddAndDelete() {
        showView();
        // The default tunnel is listed, followed by its divider.
        QCOMPARE(rows().size(), 1);
        QVERIFY(child<QWidget>("emptyState")->isHidden());

        QTest::mouseClick(rows().front()->findChild<QToolButton*>(QStringLiteral("deleteButton")),
                          Qt::LeftButton);
        QVERIFY(m_store->instances().empty());
        QTRY_COMPARE(rows().size(), 0);
        QVERIFY(child<QWidget>("emptyState")->isVisible());
        QVERIFY(child<QScrollArea>("tunnelList")->isHidden());
        const QStringList texts = [this] {
            QStringList all;
            for (auto* label : child<QWidget>("emptyState")->findChildren<QLabel*>())
                all << label->text();
            return all;
        }();
        QVERIFY(texts.contains(QStringLiteral("No tunnels configured")));
        QVERIFY(texts.contains(QStringLiteral("Tap + to add one")));

        QTest::mouseClick(child<QToolButton>("addButton"), Qt::LeftButton);
        QCOMPARE(m_store->instances().size(), size_t(1));
        QCOMPARE(m_store->instances().front()->config().name, QStringLiteral("Tunnel"));
        QCOMPARE(m_store->instances().front()->config().port, qint64(8000));
        QTRY_COMPARE(rows().size(), 1);
        QVERIFY(child<QWidget>("emptyState")->isHidden());
        QCOMPARE(rows().front()->findChild<QLineEdit*>(QStringLiteral("nameField"))->text(),
                 QStringLiteral("Tunnel"));

        // Rows follow the list's order.
        m_store->addTunnel(QStringLiteral("Last"), 9000);
        QTRY_COMPARE(rows().size(), 2);
        QCOMPARE(rows().back()->instance(), m_store->instances().back());
    }

    void tabFollowsTheVisualOrder() {
        // Rows added after the window was built still come before the controls below them.
        m_store->addTunnel(QStringLiteral("Second"), 3000);
        showView();
        m_store->addTunnel(QStringLiteral("Third"), 3001);
        QTRY_COMPARE(rows().size(), 3);
        m_view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
        auto* add = child<QToolButton>("addButton");
        add->setFocus(Qt::TabFocusReason);
        QList<QWidget*> visited;
        for (int i = 0; i < 40 && !visited.contains(QApplication::focusWidget()); ++i) {
            visited << QApplication::focusWidget();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(QApplication::focusWidget(), add); // round and back to the start
        QList<qsizetype> order;
        for (TunnelRowView* row : rows()) {
            order << visited.indexOf(row->findChild<QLineEdit*>(QStringLiteral("nameField")))
                  << visited.indexOf(row->findChild<QLineEdit*>(QStringLiteral("portField")))
                  << visited.indexOf(row->findChild<QToolButton*>(QStringLiteral("deleteButton")));
        }
        order << visited.indexOf(child<QCheckBox>("launchAtLogin"))
              << visited.indexOf(child<QToolButton>("quitButton"));
        QVERIFY(!order.contains(-1));
        QVERIFY(std::is_sorted(order.begin(), order.end()));

        // Shift+Tab walks back the same way.
        QTest::keyClick(add, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), visited.back());
    }

    void listStopsGrowingAtItsLimit() {
        showView();
        for (int i = 0; i < 12; ++i)
            m_store->addTunnel(QStringLiteral("T%1").arg(i), 3000 + i);
        QTRY_COMPARE(child<QScrollArea>("tunnelList")->height(), StatusMenuView::maxListHeight);
        QCOMPARE(m_view->width(), StatusMenuView::windowWidth);
    }

    void missingClientAlertOnShowAndAdd() {
        m_clientInstalled = false;
        showView();
        QTRY_VERIFY(alert() && alert()->isVisible());
        QCOMPARE(alert()->informativeText(),
                 QStringLiteral("cloudflared is not installed.\nInstall it with: "
                                "brew install cloudflared"));
        QCOMPARE(alert()->windowTitle(), QStringLiteral("cloudflared not found"));
        alert()->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        QTRY_VERIFY(!alert());

        // The add button raises it again and adds nothing.
        const size_t before = m_store->instances().size();
        QTest::mouseClick(child<QToolButton>("addButton"), Qt::LeftButton);
        QTRY_VERIFY(alert() && alert()->isVisible());
        QCOMPARE(m_store->instances().size(), before);

        QApplication::clipboard()->setText(QStringLiteral("previous"));
        auto* copy = alert()->findChild<QPushButton*>(QStringLiteral("copyInstallCommandButton"));
        QCOMPARE(copy->text(), QStringLiteral("Copy Install Command"));
        copy->click();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("brew install cloudflared"));
        QTRY_VERIFY(!alert());
    }

    void noAlertWhenTheClientIsInstalled() {
        showView();
        QTest::qWait(100);
        QVERIFY(!alert());
    }

    void fieldsAreRefilledWhenShownAgain() {
        showView();
        auto* name = rows().front()->findChild<QLineEdit*>(QStringLiteral("nameField"));
        name->setText(QStringLiteral("Unsaved"));
        m_view->hide();
        m_view->show();
        QCOMPARE(name->text(), QStringLiteral("Tunnel"));
    }

    void launchAtLoginWritesAndRemovesTheEntry() {
        showView();
        auto* box = child<QCheckBox>("launchAtLogin");
        QVERIFY(!box->isChecked());
        box->click();
        QVERIFY(QFile::exists(XdgAutostartLoginItem::entryPath()));
        QVERIFY(m_loginItem->isEnabled());
        box->click();
        QVERIFY(!QFile::exists(XdgAutostartLoginItem::entryPath()));

        // A registration already there is shown ticked by a new view.
        QVERIFY(m_loginItem->setEnabled(true));
        StatusMenuView second(m_store.get(), m_loginItem.get(), fakeClientLocator());
        QVERIFY(second.findChild<QCheckBox*>(QStringLiteral("launchAtLogin"))->isChecked());
    }

    void launchAtLoginFailureUnticksTheBox() {
        // A file where the autostart folder should be: the entry cannot be written.
        const QString folder = m_home->configHome() + QStringLiteral("/autostart");
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        showView();
        auto* box = child<QCheckBox>("launchAtLogin");
        box->click();
        QVERIFY(!box->isChecked());
        QVERIFY(!m_loginItem->isEnabled());
    }

    void scannerSectionAddsPortTunnels() {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        const qint64 port = listener.serverPort();
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const qint64 closedPort = closed.serverPort();
        closed.close();

        m_clientInstalled = false; // picking a port never asks for the client
        showView();
        if (alert())
            alert()->reject();
        QTRY_VERIFY(!alert());
        auto* section = m_view->scannerSection();
        section->setScanPorts({closedPort, port});
        QVERIFY(!section->showPortScanner());
        QVERIFY(!section->panel());

        QTest::mouseClick(child<QToolButton>("scannerToggle"), Qt::LeftButton);
        QVERIFY(section->showPortScanner());
        PortScannerView* panel = section->panel();
        QVERIFY(panel);
        QTRY_VERIFY(panel->isVisible());
        QTest::mouseClick(panel->findChild<QToolButton*>(QStringLiteral("refreshButton")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(panel->hasScanned(), slow);
        QCOMPARE(panel->openPorts().size(), 1);

        const size_t before = m_store->instances().size();
        auto* add = panel->findChild<QToolButton*>(QStringLiteral("addPortButton"));
        // Once folded in all the way.
        QTRY_VERIFY(add->isVisible() && add->height() > 0 &&
                    add->visibleRegion().boundingRect() == add->rect());
        QTest::mouseClick(add, Qt::LeftButton);
        QTest::mouseClick(add, Qt::LeftButton);
        // Twice the same port: two tunnels, both at the end, named after it.
        QCOMPARE(m_store->instances().size(), before + 2);
        for (size_t i = before; i < before + 2; ++i) {
            QCOMPARE(m_store->instances()[i]->config().name, QStringLiteral("Port %1").arg(port));
            QCOMPARE(m_store->instances()[i]->config().port, port);
        }
        QVERIFY(!alert());
        // The panel stays open with its list.
        QCOMPARE(section->panel(), panel);
        QVERIFY(section->showPortScanner());
        QCOMPARE(panel->openPorts().size(), 1);

        // Folded away and in again: a fresh panel.
        QTest::mouseClick(child<QToolButton>("scannerToggle"), Qt::LeftButton);
        QTRY_VERIFY(!section->panel());
        QTest::mouseClick(child<QToolButton>("scannerToggle"), Qt::LeftButton);
        QVERIFY(section->panel());
        QVERIFY(!section->panel()->hasScanned());
    }
};

QTEST_MAIN(TestStatusMenu)
#include "tst_statusmenu.moc"
