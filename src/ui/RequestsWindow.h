#pragma once

#include "proxy/HttpExchange.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class RequestLog;

// The requests one tunnel's inspecting proxy has seen, newest first; the selected one's request
// and response below, with Replay (send it to the local server again) and Clear.
class RequestsWindow : public QWidget {
    Q_OBJECT

public:
    RequestsWindow(RequestLog* log, std::function<void(const HttpExchange&)> onReplay,
                   QWidget* parent = nullptr);
    void setTunnelName(const QString& name);

private:
    void showSelected();
    void replaySelected();
    int selectedRow() const;

    QPointer<RequestLog> m_log;
    std::function<void(const HttpExchange&)> m_onReplay;
    QTableView* m_table;
    QLabel* m_emptyLabel;
    QTabWidget* m_tabs;
    QPlainTextEdit* m_requestText;
    QPlainTextEdit* m_responseText;
    QPushButton* m_replayButton;
    QPushButton* m_clearButton;
    bool m_selectNextReplay = false;
};
