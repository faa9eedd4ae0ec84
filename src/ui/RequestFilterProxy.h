#pragma once

#include "model/RequestFilter.h"

#include <QSortFilterProxyModel>

class RequestLog;

// The request log as the inspector's filter lets it through.
class RequestFilterProxy : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit RequestFilterProxy(RequestLog* log, QObject* parent = nullptr);
    void setFilter(const RequestFilter& filter);
    const RequestFilter& filter() const { return m_filter; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    RequestLog* m_log;
    RequestFilter m_filter;
};
