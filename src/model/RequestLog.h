#pragma once

#include "proxy/HttpExchange.h"

#include <QAbstractTableModel>
#include <deque>

// The requests seen through one tunnel's inspecting proxy, newest first, the last `capacity`
// of them and at most byteBudget together (bodies are cut at HttpExchange::bodyCaptureLimit
// when captured); the oldest leave first. An upgraded entry keeps its WebSocket messages,
// counted in the same bytes. Kept in memory only.
class RequestLog : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int capacity = 500;
    static constexpr qint64 byteBudget = 64 * 1024 * 1024;
    enum Column { TimeColumn, MethodColumn, PathColumn, StatusColumn, DurationColumn, SizeColumn };
    static constexpr int columns = 6;

    explicit RequestLog(QObject* parent = nullptr);

    // A batch as the proxy hands it over, oldest first.
    void append(const QList<HttpExchange>& batch);
    // WebSocket messages, oldest first, to the entries they belong to (those gone are left out).
    void appendMessages(const QList<WebSocketMessage>& batch);
    void clear();
    const HttpExchange& exchangeAt(int row) const { return m_entries.at(std::size_t(row)); }
    // The row of the exchange with this id, or -1 once it has left the log.
    int rowOf(quint64 id) const;
    // What the entries hold, as HttpExchange::heldBytes() counts it.
    qint64 heldBytes() const { return m_heldBytes; }
    // Entries that left to make room since the last clear().
    qint64 droppedCount() const { return m_dropped; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void droppedCountChanged(qint64 dropped);
    // The entry of this id got messages.
    void messagesAppended(quint64 exchangeId);

private:
    // Drops the oldest entries beyond the bounds; true if any went.
    bool trim();

    std::deque<HttpExchange> m_entries; // newest first
    qint64 m_heldBytes = 0;
    qint64 m_dropped = 0;
};
