#pragma once

#include "proxy/HttpExchange.h"

#include <QPointer>
#include <QWidget>

class CompactTable;
class QLabel;
class QLineEdit;
class QTimer;
class QToolButton;
class RequestFilterProxy;
class RequestLog;

// The requests one tunnel's gateway has seen, newest first, narrowed by a filter (text and
// status classes), with how many are shown and why older ones left.
class RequestListPane : public QWidget {
    Q_OBJECT

public:
    RequestListPane(RequestLog* log, QWidget* parent = nullptr);
    // The selected row of the log; -1 for none.
    int selectedRow() const;
    bool hasSelection() const;
    int shownCount() const;
    // Exchanges of the selected rows (or all shown), oldest first.
    QList<HttpExchange> exchanges(bool selectedOnly) const;
    // The entry with this id is selected when it arrives (a replay's answer).
    void selectWhenArrived(quint64 id) { m_awaited = id; }
    void focusFilter();

signals:
    // The selection, the entries or their number changed.
    void changed();

private:
    void applyFilter();
    void refresh();
    void refreshCounts();
    void selectSourceRow(int row);

    QPointer<RequestLog> m_log;
    RequestFilterProxy* m_filtered;
    QLineEdit* m_filterEdit;
    QList<QToolButton*> m_statusButtons;
    QLabel* m_countLabel;
    QTimer* m_filterDelay;
    CompactTable* m_table;
    QLabel* m_emptyLabel;
    QLabel* m_boundLabel;
    quint64 m_awaited = 0;
};
