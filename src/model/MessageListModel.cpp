#include "model/MessageListModel.h"

#include "model/RequestLog.h"

#include <QLocale>

MessageListModel::MessageListModel(RequestLog* log, QObject* parent)
    : QAbstractTableModel(parent)
    , m_log(log) {
    connect(log, &RequestLog::messagesAppended, this, &MessageListModel::follow);
    connect(log, &QAbstractItemModel::rowsRemoved, this, &MessageListModel::recheck);
    connect(log, &QAbstractItemModel::modelReset, this, &MessageListModel::recheck);
}

void MessageListModel::setExchange(quint64 id) {
    if (id == m_id)
        return;
    beginResetModel();
    m_id = id;
    const auto* list = messages();
    m_rows = list ? int(list->size()) : 0;
    m_first = list ? m_log->exchangeAt(m_log->rowOf(id)).messagesDropped : 0;
    endResetModel();
}

const QList<WebSocketMessage>* MessageListModel::messages() const {
    const int row = m_log && m_id ? m_log->rowOf(m_id) : -1;
    return row < 0 ? nullptr : &m_log->exchangeAt(row).messages;
}

const WebSocketMessage* MessageListModel::messageAt(int row) const {
    const auto* list = messages();
    return list && row >= 0 && row < m_rows && row < list->size() ? &list->at(row) : nullptr;
}

// New messages go below; those the entry let go leave from the top.
void MessageListModel::follow(quint64 id) {
    if (id != m_id)
        return;
    const auto* list = messages();
    if (!list)
        return recheck();
    const qint64 first = m_log->exchangeAt(m_log->rowOf(id)).messagesDropped;
    const qint64 gone = qMin<qint64>(first - m_first, m_rows);
    if (gone > 0) {
        beginRemoveRows({}, 0, int(gone) - 1);
        m_first += gone;
        m_rows -= int(gone);
        endRemoveRows();
    }
    const qint64 added = first + list->size() - (m_first + m_rows);
    if (m_first != first || added < 0) {
        // More went than was shown: start over.
        beginResetModel();
        m_first = first;
        m_rows = int(list->size());
        endResetModel();
    } else if (added > 0) {
        beginInsertRows({}, m_rows, m_rows + int(added) - 1);
        m_rows += int(added);
        endInsertRows();
    }
}

void MessageListModel::recheck() {
    if (m_id && !messages() && m_rows > 0) {
        beginResetModel();
        m_rows = 0;
        endResetModel();
    }
}

QString MessageListModel::summary(const WebSocketMessage& message) {
    if (message.unreadable)
        return tr("Compressed, and it does not inflate");
    const QByteArray& payload = message.payload;
    switch (message.opcode) {
    case WebSocketMessage::Text:
        return message.text().simplified() +
               (message.payloadCut() ? QStringLiteral("…") : QString());
    case WebSocketMessage::Close:
        if (payload.size() < 2)
            return tr("Close");
        return tr("Close %1 %2")
            .arg((uchar(payload[0]) << 8) | uchar(payload[1]))
            .arg(QString::fromUtf8(payload.mid(2)))
            .trimmed();
    case WebSocketMessage::Ping:
        return (tr("Ping") + QLatin1Char(' ') + QString::fromUtf8(payload)).trimmed();
    case WebSocketMessage::Pong:
        return (tr("Pong") + QLatin1Char(' ') + QString::fromUtf8(payload)).trimmed();
    }
    return tr("Binary: %1").arg(QString::fromLatin1(payload.left(24).toHex(' '))) +
           (payload.size() > 24 || message.payloadCut() ? QStringLiteral(" …") : QString());
}

int MessageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int MessageListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns;
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
    const WebSocketMessage* message = index.isValid() ? messageAt(index.row()) : nullptr;
    if (!message)
        return {};
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    const bool accessible = role == Qt::AccessibleTextRole || role == Qt::ToolTipRole;
    if (role != Qt::DisplayRole && !accessible)
        return {};
    switch (index.column()) {
    case DirectionColumn:
        if (accessible)
            return message->toServer ? tr("To the local server") : tr("To the visitor");
        return message->toServer ? QStringLiteral("↑") : QStringLiteral("↓");
    case TimeColumn:
        return message->time.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    case SizeColumn:
        return QLocale().formattedDataSize(message->size, 1, QLocale::DataSizeTraditionalFormat);
    case DataColumn:
        return summary(*message);
    }
    return {};
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case DirectionColumn:
        return QString();
    case TimeColumn:
        return tr("Time");
    case SizeColumn:
        return tr("Size");
    case DataColumn:
        return tr("Data");
    }
    return {};
}
