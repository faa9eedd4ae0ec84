#pragma once

#include "proxy/HttpExchange.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QAction;
class QLabel;
class QLineEdit;
class MessageListModel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTimer;
class QToolButton;
class RequestFilterProxy;
class RequestLog;

// The requests one tunnel's inspecting proxy has seen, newest first, narrowed by a filter;
// the selected one's request and response below (and an upgraded one's WebSocket messages,
// live), with Replay (send it to the local server
// again), Edit and Replay, Copy as curl, Save as HAR and Clear. baseUrl gives the address
// the requests came to (the tunnel's public URL), for curl commands and HAR files.
class RequestsWindow : public QWidget {
    Q_OBJECT

public:
    RequestsWindow(RequestLog* log, std::function<void(const HttpExchange&)> onReplay,
                   std::function<QString()> baseUrl, QWidget* parent = nullptr);
    void setTunnelName(const QString& name);
    // Exchanges of the selected rows (or all shown), oldest first.
    QList<HttpExchange> exchanges(bool selectedOnly) const;
    void saveHar(const QString& path, bool selectedOnly);

private:
    void showSelected();
    void showMessages(const HttpExchange* exchange);
    void showSelectedMessage();
    void replaySelected();
    void editSelected();
    void copySelectedAsCurl();
    void askToSaveHar(bool selectedOnly);
    void applyFilter();
    void refreshCounts();
    void selectSourceRow(int row);
    int selectedRow() const; // in the log, -1 for none

    QPointer<RequestLog> m_log;
    std::function<void(const HttpExchange&)> m_onReplay;
    std::function<QString()> m_baseUrl;
    RequestFilterProxy* m_filtered;
    QLineEdit* m_filterEdit;
    QList<QToolButton*> m_statusButtons;
    QLabel* m_countLabel;
    QTimer* m_filterDelay;
    QTableView* m_table;
    QLabel* m_emptyLabel;
    QLabel* m_boundLabel;
    QTabWidget* m_tabs;
    QPlainTextEdit* m_requestText;
    QPlainTextEdit* m_responseText;
    QLabel* m_timingLabel;
    MessageListModel* m_messages;
    QWidget* m_messagesPage;
    QTableView* m_messageTable;
    QPlainTextEdit* m_messageText;
    QPushButton* m_replayButton;
    QPushButton* m_editButton;
    QPushButton* m_curlButton;
    QPushButton* m_harButton;
    QAction* m_saveSelectedAction;
    QPushButton* m_clearButton;
    bool m_selectNextReplay = false;
};
