#include "app/QuillbyApp.h"

#include "app/QuitSequence.h"
#include "app/StatusWindow.h"
#include "app/TrayToolTip.h"
#include "app/TunnelNotifications.h"
#include "model/ClientVersion.h"
#include "model/TunnelStore.h"
#include "ui/StatusMenuView.h"
#include "ui/SymbolIcon.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

QuillbyApp::QuillbyApp(Parts parts, QObject* parent)
    : QObject(parent)
    , m_parts(std::move(parts)) {
    if (!m_parts.findClient)
        m_parts.findClient = [] { return findCloudflared(); };
    // Read once the event loop runs, long before a start asks whether the client is too old.
    auto* clientVersion = new ClientVersion(m_parts.findClient, this);
    QTimer::singleShot(0, clientVersion, &ClientVersion::refresh);
    m_store = new TunnelStore(
        m_parts.settings, {.findClient = m_parts.findClient, .clientVersion = clientVersion}, this);
    (new TunnelNotifications(m_parts.notifier, this))->watch(m_store);
    m_quit = new QuitSequence(m_store, this);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(tr("Quillby"));
    m_menu = new QMenu;
    m_menu->addAction(tr("Show Tunnels"), this, &QuillbyApp::showWindow);
    m_menu->addSeparator();
    m_menu->addAction(tr("Quit"), this, &QuillbyApp::quit);
    m_tray->setContextMenu(m_menu);

    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::MiddleClick)
                    statusWindow()->toggleAt(trayAnchor());
            });
    connect(m_store, &TunnelStore::changed, this, &QuillbyApp::updateTrayIcon);
    connect(m_store, &TunnelStore::instancesChanged, this, &QuillbyApp::updateTrayIcon);
    connect(m_quit, &QuitSequence::finished, this, &QuillbyApp::finished);
    updateTrayIcon();
}

StatusWindow* QuillbyApp::statusWindow() {
    if (!m_window) {
        auto* view = new StatusMenuView(m_store, m_parts.loginItem, m_parts.findClient);
        m_window = new StatusWindow(view);
        connect(view, &StatusMenuView::quitRequested, this, &QuillbyApp::quit);
    }
    return m_window;
}

QuillbyApp::~QuillbyApp() {
    delete m_window;
    delete m_menu;
}

bool QuillbyApp::hasTray() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QuillbyApp::start() {
    // The icon is shown even without a tray host: one that starts later picks it up.
    m_tray->show();
    if (!hasTray()) {
        statusWindow()->setMode(StatusWindow::Mode::Window);
        m_window->present();
    }
}

void QuillbyApp::showWindow() {
    if (m_quit->isStarted())
        return;
    statusWindow()->setMode(hasTray() ? StatusWindow::Mode::Popup : StatusWindow::Mode::Window);
    if (m_window->mode() == StatusWindow::Mode::Popup && m_window->isVisible())
        m_window->raise();
    else if (m_window->mode() == StatusWindow::Mode::Popup)
        m_window->showAt(trayAnchor());
    else
        m_window->present();
}

void QuillbyApp::quit() {
    if (m_window)
        m_window->hide();
    m_quit->start();
}

std::optional<QRect> QuillbyApp::trayAnchor() const {
    const QRect geometry = m_tray->geometry();
    if (geometry.isValid() && !geometry.isEmpty())
        return geometry;
    return std::nullopt;
}

void QuillbyApp::updateTrayIcon() {
    const bool running = m_store->hasRunningTunnel();
    m_tray->setToolTip(TrayToolTip::text(m_store->instances()));
    if (m_shownRunning == running)
        return;
    m_shownRunning = running;
    // The tray's background is the panel's, not ours: mid-tone colours read on light and dark.
    const QPalette light{QColor(Qt::white)};
    m_tray->setIcon(running ? SymbolIcon::icon(QStringLiteral("cloud.fill"),
                                               Theme::named(Theme::Named::Green, light))
                            : SymbolIcon::icon(QStringLiteral("cloud"),
                                               Theme::named(Theme::Named::Gray, light)));
}
