#pragma once

#include "proxy/WebSocketMessage.h"

#include <QAbstractTableModel>
#include <QPointer>

class RequestLog;

// The WebSocket messages of one upgraded entry of a RequestLog, oldest first, one a row:
// direction, time, size and what it says. Follows the log live: new messages are appended
// rows, those the entry dropped to make room leave from the top.
class MessageListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { DirectionColumn, TimeColumn, SizeColumn, DataColumn };
    static constexpr int columns = 4;

    explicit MessageListModel(RequestLog* log, QObject* parent = nullptr);
    // 0: none.
    void setExchange(quint64 id);
    quint64 exchangeId() const { return m_id; }
    // Null when the row is not (or no longer) there.
    const WebSocketMessage* messageAt(int row) const;
    // One line: text as text, binary as its first bytes in hex, close with its code.
    static QString summary(const WebSocketMessage& message);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const QList<WebSocketMessage>* messages() const;
    void follow(quint64 id);
    void recheck();

    QPointer<RequestLog> m_log;
    quint64 m_id = 0;
    qint64 m_first = 0; // how many of the entry's messages had been dropped before row 0
    int m_rows = 0;
};
