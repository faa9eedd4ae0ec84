#include "ui/RequestFilterProxy.h"

#include "model/RequestLog.h"

RequestFilterProxy::RequestFilterProxy(RequestLog* log, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_log(log) {
    setSourceModel(log);
}

void RequestFilterProxy::setFilter(const RequestFilter& filter) {
    m_filter = filter;
    invalidateRowsFilter();
}

bool RequestFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    return !sourceParent.isValid() &&
           (m_filter.isEmpty() || m_filter.matches(m_log->exchangeAt(sourceRow)));
}
