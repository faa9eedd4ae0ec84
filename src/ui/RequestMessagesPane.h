#pragma once

#include <QSplitter>

class CompactTable;
class DetailText;
class MessageListModel;
class RequestLog;

// An upgraded entry's WebSocket messages, live, oldest first; the selected one in full below.
class RequestMessagesPane : public QSplitter {
    Q_OBJECT

public:
    RequestMessagesPane(RequestLog* log, QWidget* parent = nullptr);
    // 0: none.
    void setExchange(quint64 id);
    quint64 exchangeId() const;

signals:
    // Messages of the shown entry came.
    void messagesArrived();

private:
    void showSelected();

    MessageListModel* m_messages;
    CompactTable* m_table;
    DetailText* m_text;
};
