#pragma once

#include "proxy/HttpExchange.h"

#include <QAbstractTableModel>
#include <deque>

// The requests seen through one tunnel's inspecting proxy, newest first, the last `capacity`
// of them; kept in memory only.
class RequestLog : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int capacity = 500;
    enum Column { TimeColumn, MethodColumn, PathColumn, StatusColumn, DurationColumn, SizeColumn };
    static constexpr int columns = 6;

    explicit RequestLog(QObject* parent = nullptr);

    // A batch as the proxy hands it over, oldest first.
    void append(const QList<HttpExchange>& batch);
    void clear();
    const HttpExchange& exchangeAt(int row) const { return m_entries.at(std::size_t(row)); }
    // The row of the exchange with this id, or -1 once it has left the log.
    int rowOf(quint64 id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::deque<HttpExchange> m_entries; // newest first
};
