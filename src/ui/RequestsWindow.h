#pragma once

#include "proxy/HttpExchange.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QAction;
class QPushButton;
class RequestDetailPane;
class RequestListPane;
class RequestLog;

// The requests one tunnel's gateway has seen (RequestListPane), the selected one in full below
// (RequestDetailPane), with Replay (send it to the local server again), Edit and Replay, Copy as
// curl, Save as HAR and Clear. onReplay sends an exchange and returns the new entry's id (0:
// none will come); baseUrl gives the address the requests came to, for curl commands and HAR
// files.
class RequestsWindow : public QWidget {
    Q_OBJECT

public:
    using Replay = std::function<quint64(const HttpExchange&)>;

    RequestsWindow(RequestLog* log, Replay onReplay, std::function<QString()> baseUrl,
                   QWidget* parent = nullptr);
    void setTunnelName(const QString& name);
    // Exchanges of the selected rows (or all shown), oldest first.
    QList<HttpExchange> exchanges(bool selectedOnly) const;
    void saveHar(const QString& path, bool selectedOnly);

private:
    QPushButton* addButton(const QString& text, const char* objectName, const QString& toolTip);
    void showSelected();
    void replay(const HttpExchange& exchange);
    void replaySelected();
    void editSelected();
    void copySelectedAsCurl();
    void askToSaveHar(bool selectedOnly);

    QPointer<RequestLog> m_log;
    Replay m_onReplay;
    std::function<QString()> m_baseUrl;
    RequestListPane* m_list;
    RequestDetailPane* m_detail;
    QPushButton* m_replayButton;
    QPushButton* m_editButton;
    QPushButton* m_curlButton;
    QPushButton* m_harButton;
    QAction* m_saveSelectedAction;
    QPushButton* m_clearButton;
};
