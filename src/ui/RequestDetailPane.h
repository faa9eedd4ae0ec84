#pragma once

#include <QPointer>
#include <QTabWidget>

struct HttpExchange;
class DetailText;
class QLabel;
class RequestLog;
class RequestMessagesPane;

// The selected entry of the requests window: its request, its answer with the timing beside
// the tabs, and, for an upgraded one, its WebSocket messages.
class RequestDetailPane : public QTabWidget {
    Q_OBJECT

public:
    RequestDetailPane(RequestLog* log, QWidget* parent = nullptr);
    // Null: nothing selected.
    void showExchange(const HttpExchange* exchange);

private:
    void showMessages(const HttpExchange* exchange);

    QPointer<RequestLog> m_log;
    DetailText* m_requestText;
    DetailText* m_responseText;
    QLabel* m_timingLabel;
    RequestMessagesPane* m_messages;
};
