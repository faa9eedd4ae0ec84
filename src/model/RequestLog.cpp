#include "model/RequestLog.h"

#include <QLocale>

RequestLog::RequestLog(QObject* parent)
    : QAbstractTableModel(parent) {}

void RequestLog::append(const QList<HttpExchange>& batch) {
    const qsizetype count = qMin<qsizetype>(batch.size(), capacity);
    if (count == 0)
        return;
    beginInsertRows({}, 0, int(count) - 1);
    for (qsizetype i = batch.size() - count; i < batch.size(); ++i)
        m_entries.push_front(batch.at(i));
    endInsertRows();
    if (m_entries.size() > std::size_t(capacity)) {
        beginRemoveRows({}, capacity, int(m_entries.size()) - 1);
        m_entries.resize(std::size_t(capacity));
        endRemoveRows();
    }
}

void RequestLog::clear() {
    if (m_entries.empty())
        return;
    beginResetModel();
    m_entries.clear();
    endResetModel();
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
