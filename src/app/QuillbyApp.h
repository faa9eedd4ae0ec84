#pragma once

#include "model/CloudflaredLocator.h"

#include <QObject>
#include <QRect>
#include <optional>

class LoginItem;
class Notifier;
class QMenu;
class QSettings;
class QSystemTrayIcon;
class QuitSequence;
class StatusWindow;
class TunnelStore;

// The application: the one tunnel store, the tray icon that shows whether a tunnel runs, the
// status window it opens, and Quit.
class QuillbyApp : public QObject {
    Q_OBJECT

public:
    // What the application runs on; none of it is owned and all of it must outlive the app.
    struct Parts {
        QSettings* settings = nullptr;
        Notifier* notifier = nullptr;
        LoginItem* loginItem = nullptr;
        ClientLocator findClient;
    };

    explicit QuillbyApp(Parts parts, QObject* parent = nullptr);
    ~QuillbyApp() override;

    // Shows the tray icon, or the window when there is no tray.
    void start();
    // A second launch asked for the window.
    void showWindow();
    // Stops every tunnel, then finished().
    void quit();

    TunnelStore* store() const { return m_store; }
    // The status window, built the first time it is needed: start-up only shows the icon.
    StatusWindow* statusWindow();
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    bool hasTray() const;

signals:
    void finished();

private:
    void updateTrayIcon();
    std::optional<QRect> trayAnchor() const;

    Parts m_parts;
    TunnelStore* m_store;
    StatusWindow* m_window = nullptr;
    QSystemTrayIcon* m_tray;
    QMenu* m_menu;
    QuitSequence* m_quit;
    std::optional<bool> m_shownRunning;
};
