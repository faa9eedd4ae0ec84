#pragma once

#include "model/CloudflaredLocator.h"

#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class LoginItem;
class PortScannerSection;
class QCheckBox;
class QLabel;

class QScrollArea;
class QToolButton;
class QVBoxLayout;
class TunnelRowView;
class TunnelStore;

// The content of the status window: header with the active count and the add button, the
// tunnel rows (or the empty state), the port scanner section, "Launch at Login" and Quit. It
// observes the store and changes the model only through it.
class StatusMenuView : public QWidget {
    Q_OBJECT

public:
    static constexpr int windowWidth = 300;
    static constexpr int maxListHeight = 350;
    // The install command offered when the client is missing, as shown and copied.
    static QString installCommand();

    // findClient: whether the client is installed (asked when the view is shown and by the add
    // button). loginItem may be null (no checkbox effect). Neither is owned.
    StatusMenuView(TunnelStore* store, LoginItem* loginItem, ClientLocator findClient,
                   QWidget* parent = nullptr);

    TunnelStore* store() const { return m_store; }
    PortScannerSection* scannerSection() const { return m_scanner; }
    // The missing-client alert while it is open.
    QMessageBox* cloudflaredMissingAlert() const { return m_alert; }
    void showCloudflaredMissing();

signals:
    // The Quit button was pressed; the application stops every tunnel and exits.
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void addTunnel();
    void syncRows();
    void updateHeader();
    void updateListHeight();
    void launchAtLoginToggled(bool enabled);
    void applyColors();

    TunnelStore* m_store;
    LoginItem* m_loginItem;
    ClientLocator m_findClient;

    QLabel* m_title;
    QLabel* m_activeCount;
    QToolButton* m_addButton;
    QWidget* m_emptyState;
    QLabel* m_emptyIcon;
    QLabel* m_emptyTitle;
    QLabel* m_emptyHint;
    QScrollArea* m_list;
    QWidget* m_listContent;
    QVBoxLayout* m_listLayout;
    QHash<QUuid, TunnelRowView*> m_rows;
    PortScannerSection* m_scanner;
    QCheckBox* m_launchAtLogin;
    QToolButton* m_quitButton;
    QPointer<QMessageBox> m_alert;
};
