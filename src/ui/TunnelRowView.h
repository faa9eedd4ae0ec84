#pragma once

#include "model/TunnelInstance.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class BusySpinner;
class ElidedLabel;
class RequestsWindow;
class QLabel;
class QLineEdit;
class QTimer;
class QAction;
class QToolButton;
class StatusDot;

// One tunnel in the status window: status dot, editable name and port, the connecting or
// reconnecting line (or the step of the first start on a hostname), the public URL with its
// open, QR code and copy buttons (shown as soon as it is known), when a time limit stops it, the
// current problem with what can be done about it, start/stop and delete. It observes its
// instance and reports edits to the instance; the store saves them.
class TunnelRowView : public QWidget {
    Q_OBJECT

public:
    TunnelRowView(TunnelInstance* instance, std::function<void()> onDelete,
                  QWidget* parent = nullptr);

    TunnelInstance* instance() const { return m_instance; }

    // Sets both fields from the configuration, dropping any uncommitted edit. Runs each time the
    // row comes into view.
    void fillFields();

signals:
    // The problem line's "Sign In..." was pressed.
    void signInRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void commitName();
    void commitPort();
    void toggleRunning();
    void copyURL();
    void showQrCode();
    void openInspector();
    void openAddressDialog();
    void solveProblem();
    void refresh();
    // "Stops in 12 min", and a single-shot timer for when those words next change; no timer
    // while the row is hidden.
    void refreshStopsLine();

    QPointer<TunnelInstance> m_instance;
    std::function<void()> m_onDelete;

    StatusDot* m_dot;
    QLineEdit* m_nameField;
    QLabel* m_colon;
    QLineEdit* m_portField;
    QWidget* m_connectingLine;
    BusySpinner* m_spinner;
    QLabel* m_connectingLabel;
    QWidget* m_urlLine;
    ElidedLabel* m_urlLabel;
    QToolButton* m_openButton;
    QToolButton* m_qrButton;
    QToolButton* m_copyButton;
    QLabel* m_stopsLabel;
    QTimer* m_stopsTimer;
    QLabel* m_problemLabel;
    QToolButton* m_problemButton;
    QToolButton* m_startStopButton;
    QToolButton* m_deleteButton;
    QToolButton* m_optionsButton;
    QAction* m_inspectAction;
    QAction* m_rewriteHostAction;
    QToolButton* m_requestsButton;
    QPointer<RequestsWindow> m_inspectorWindow;
};
