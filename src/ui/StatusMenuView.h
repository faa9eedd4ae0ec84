#pragma once

#include "model/CloudflaredLocator.h"

#include <QPointer>
#include <QWidget>

class CloudflaredMissingAlert;
class LoginItem;
class PortScannerSection;
class QCheckBox;
class QLabel;
class QMessageBox;
class QToolButton;
class TunnelStore;

// The content of the status window: header with the active count and the add button, the
// tunnel rows (or the empty state), the port scanner section, signing in to use one's own domain,
// "Launch at Login" and Quit. It
// observes the store and changes the model only through it.
class StatusMenuView : public QWidget {
    Q_OBJECT

public:
    static constexpr int windowWidth = 300;

    // findClient: whether the client is installed (asked when the view is shown and by the add
    // button). loginItem may be null (no checkbox effect). Neither is owned.
    StatusMenuView(TunnelStore* store, LoginItem* loginItem, ClientLocator findClient,
                   QWidget* parent = nullptr);

    TunnelStore* store() const { return m_store; }
    PortScannerSection* scannerSection() const { return m_scanner; }
    // The missing-client alert while it is open.
    QMessageBox* cloudflaredMissingAlert() const;
    void showCloudflaredMissing();

signals:
    // The Quit button was pressed; the application stops every tunnel and exits.
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void addTunnel();
    void updateHeader();
    void launchAtLoginToggled(bool enabled);

    TunnelStore* m_store;
    LoginItem* m_loginItem;
    ClientLocator m_findClient;

    QLabel* m_title;
    QLabel* m_activeCount;
    QToolButton* m_addButton;
    PortScannerSection* m_scanner;
    QCheckBox* m_launchAtLogin;
    QToolButton* m_quitButton;
    QPointer<CloudflaredMissingAlert> m_alert;
};
