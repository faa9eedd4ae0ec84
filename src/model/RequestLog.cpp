#include "model/RequestLog.h"

#include <QLocale>

RequestLog::RequestLog(QObject* parent)
    : QAbstractTableModel(parent) {}

void RequestLog::append(const QList<HttpExchange>& batch) {
    const qsizetype count = qMin<qsizetype>(batch.size(), capacity);
    const qint64 droppedBefore = m_dropped;
    m_dropped += batch.size() - count;
    if (count > 0) {
        beginInsertRows({}, 0, int(count) - 1);
        for (qsizetype i = batch.size() - count; i < batch.size(); ++i) {
            m_entries.push_front(batch.at(i));
            m_heldBytes += batch.at(i).heldBytes();
        }
        endInsertRows();
    }
    trim();
    if (m_dropped != droppedBefore)
        emit droppedCountChanged(m_dropped);
}

void RequestLog::appendMessages(const QList<WebSocketMessage>& batch) {
    QList<quint64> touched;
    quint64 id = 0;
    int row = -1;
    for (const WebSocketMessage& message : batch) {
        if (message.exchangeId != id) {
            id = message.exchangeId;
            row = rowOf(id);
            if (row >= 0 && !touched.contains(id))
                touched.append(id);
        }
        if (row < 0)
            continue;
        HttpExchange& entry = m_entries[std::size_t(row)];
        entry.messages.append(message);
        m_heldBytes += message.heldBytes();
        if (entry.messages.size() > HttpExchange::maxMessages) {
            m_heldBytes -= entry.messages.first().heldBytes();
            entry.messages.removeFirst();
            ++entry.messagesDropped;
        }
    }
    if (trim())
        emit droppedCountChanged(m_dropped);
    for (quint64 entry : touched)
        if (rowOf(entry) >= 0)
            emit messagesAppended(entry);
}

bool RequestLog::trim() {
    // The newest entry stays even when it alone is over the budget.
    std::size_t keep = m_entries.size();
    qint64 held = m_heldBytes;
    while (keep > 1 && (keep > std::size_t(capacity) || held > byteBudget))
        held -= m_entries[--keep].heldBytes();
    if (keep == m_entries.size())
        return false;
    beginRemoveRows({}, int(keep), int(m_entries.size()) - 1);
    m_dropped += qint64(m_entries.size() - keep);
    m_entries.resize(keep);
    m_heldBytes = held;
    endRemoveRows();
    return true;
}

void RequestLog::clear() {
    const bool hadDropped = m_dropped != 0;
    m_dropped = 0;
    if (!m_entries.empty()) {
        beginResetModel();
        m_entries.clear();
        m_heldBytes = 0;
        endResetModel();
    }
    if (hadDropped)
        emit droppedCountChanged(0);
}

int RequestLog::rowOf(quint64 id) const {
    for (std::size_t row = 0; row < m_entries.size(); ++row)
        if (m_entries[row].id == id)
            return int(row);
    return -1;
}

int RequestLog::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_entries.size());
}

int RequestLog::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

QVariant RequestLog::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const HttpExchange& exchange = exchangeAt(index.row());
    if (role == Qt::TextAlignmentRole && index.column() >= StatusColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    switch (index.column()) {
    case TimeColumn:
        return exchange.time.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    case MethodColumn:
        if (exchange.edited)
            return tr("%1 (edited)").arg(QString::fromLatin1(exchange.method));
        return exchange.replayed ? tr("%1 (replay)").arg(QString::fromLatin1(exchange.method))
                                 : QString::fromLatin1(exchange.method);
    case PathColumn:
        return QString::fromUtf8(exchange.target);
    case StatusColumn:
        if (exchange.originRefused)
            return exchange.status ? tr("%1 refused").arg(exchange.status) : tr("refused");
        return exchange.status ? QString::number(exchange.status) : tr("none");
    case DurationColumn:
        return tr("%1 ms").arg(QLocale().toString(double(exchange.durationUs) / 1000.0, 'f', 1));
    case SizeColumn:
        return QLocale().formattedDataSize(exchange.responseBodySize, 1,
                                           QLocale::DataSizeTraditionalFormat);
    }
    return {};
}

QVariant RequestLog::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case MethodColumn:
        return tr("Method");
    case PathColumn:
        return tr("Path");
    case StatusColumn:
        return tr("Status");
    case DurationColumn:
        return tr("Duration");
    case SizeColumn:
        return tr("Size");
    }
    return {};
}
