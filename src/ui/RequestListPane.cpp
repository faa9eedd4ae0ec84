#include "ui/RequestListPane.h"

#include "model/RequestLog.h"
#include "ui/CompactTable.h"
#include "ui/PaletteTint.h"
#include "ui/RequestFilterProxy.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

RequestListPane::RequestListPane(RequestLog* log, QWidget* parent)
    : QWidget(parent)
    , m_log(log)
    , m_filtered(new RequestFilterProxy(log, this)) {
    m_filterEdit = new QLineEdit(this);
    m_filterEdit->setObjectName(QStringLiteral("filterEdit"));
    m_filterEdit->setClearButtonEnabled(true);
    m_filterEdit->setPlaceholderText(tr("Filter by method, path, status, header or body"));
    m_filterEdit->setAccessibleName(tr("Filter"));
    // Typing narrows the list once a pause comes, not on every key.
    m_filterDelay = new QTimer(this);
    m_filterDelay->setSingleShot(true);
    m_filterDelay->setInterval(120);
    connect(m_filterEdit, &QLineEdit::textChanged, m_filterDelay, qOverload<>(&QTimer::start));
    connect(m_filterDelay, &QTimer::timeout, this, &RequestListPane::applyFilter);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(m_filterEdit, 1);
    for (int hundreds = 2; hundreds <= 5; ++hundreds) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("status%1xx").arg(hundreds));
        button->setText(tr("%1xx").arg(hundreds));
        button->setToolTip(tr("Show only answers with status %1xx").arg(hundreds));
        button->setCheckable(true);
        button->setAutoRaise(true);
        connect(button, &QToolButton::toggled, this, &RequestListPane::applyFilter);
        m_statusButtons.append(button);
        filterRow->addWidget(button);
    }
    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(QStringLiteral("countLabel"));
    PaletteTint::text(m_countLabel, Theme::Tone::Secondary);
    filterRow->addWidget(m_countLabel);

    m_table = new CompactTable(m_filtered, RequestLog::PathColumn,
                               {RequestLog::TimeColumn, RequestLog::MethodColumn,
                                RequestLog::StatusColumn, RequestLog::DurationColumn,
                                RequestLog::SizeColumn},
                               QAbstractItemView::ExtendedSelection, this);
    m_table->setObjectName(QStringLiteral("requestTable"));
    m_table->setAccessibleName(tr("Requests, newest first"));
    m_table->setAlternatingRowColors(true);
    setFocusProxy(m_table);

    m_emptyLabel = new QLabel(
        tr("No requests yet. Requests that reach the tunnel's public URL appear here."), this);
    m_emptyLabel->setObjectName(QStringLiteral("emptyLabel"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setWordWrap(true);
    PaletteTint::text(m_emptyLabel, Theme::Tone::Secondary);
    m_boundLabel = new QLabel(this);
    m_boundLabel->setObjectName(QStringLiteral("boundLabel"));
    m_boundLabel->setWordWrap(true);
    PaletteTint::text(m_boundLabel, Theme::Tone::Secondary);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(filterRow);
    layout->addWidget(m_table);
    layout->addWidget(m_emptyLabel);
    layout->addWidget(m_boundLabel);

    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RequestListPane::changed);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RequestListPane::changed);
    connect(log, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                // A replay's answer, once it comes, is shown.
                for (int row = first; m_awaited && row <= last; ++row) {
                    if (m_log->exchangeAt(row).id == m_awaited) {
                        m_awaited = 0;
                        m_table->clearSelection();
                        selectSourceRow(row);
                    }
                }
                if (selectedRow() < 0)
                    selectSourceRow(0);
                refresh();
            });
    connect(log, &QAbstractItemModel::rowsRemoved, this, &RequestListPane::refresh);
    connect(log, &QAbstractItemModel::modelReset, this, &RequestListPane::refresh);
    connect(log, &RequestLog::droppedCountChanged, this, &RequestListPane::refreshCounts);
    if (log->rowCount() > 0)
        selectSourceRow(0);
    refresh();
}

void RequestListPane::focusFilter() {
    m_filterEdit->setFocus();
    m_filterEdit->selectAll();
}

void RequestListPane::applyFilter() {
    RequestFilter filter;
    filter.setText(m_filterEdit->text());
    int classes = 0;
    for (int i = 0; i < m_statusButtons.size(); ++i)
        if (m_statusButtons.at(i)->isChecked())
            classes |= 1 << (i + 2);
    filter.setStatusClasses(classes);
    m_filtered->setFilter(filter);
    if (selectedRow() < 0 && m_filtered->rowCount() > 0)
        m_table->selectRow(0);
    refresh();
}

void RequestListPane::refresh() {
    m_table->fitShortColumns();
    refreshCounts();
    emit changed();
}

void RequestListPane::refreshCounts() {
    const int total = m_log ? m_log->rowCount() : 0;
    const int shown = m_filtered->rowCount();
    m_countLabel->setText(tr("%1 of %2").arg(shown).arg(total));
    m_countLabel->setAccessibleName(tr("%1 of %2 requests shown").arg(shown).arg(total));
    m_table->setVisible(total > 0);
    m_emptyLabel->setVisible(total == 0);
    const qint64 dropped = m_log ? m_log->droppedCount() : 0;
    m_boundLabel->setText(
        tr("Older requests leave the list to keep it within %1 and %2 requests; %n so far.",
           nullptr, int(qMin<qint64>(dropped, INT_MAX)))
            .arg(QLocale().formattedDataSize(RequestLog::byteBudget, 0,
                                             QLocale::DataSizeTraditionalFormat))
            .arg(RequestLog::capacity));
    m_boundLabel->setVisible(dropped > 0);
}

void RequestListPane::selectSourceRow(int row) {
    const QModelIndex index = m_filtered->mapFromSource(m_log->index(row, 0));
    if (index.isValid())
        m_table->selectRow(index.row());
}

int RequestListPane::selectedRow() const {
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    if (!m_log || !current.isValid() || !m_table->selectionModel()->isRowSelected(current.row()))
        return -1;
    return m_filtered->mapToSource(current).row();
}

bool RequestListPane::hasSelection() const {
    return m_table->selectionModel()->hasSelection();
}

int RequestListPane::shownCount() const {
    return m_filtered->rowCount();
}

QList<HttpExchange> RequestListPane::exchanges(bool selectedOnly) const {
    QList<int> rows;
    if (selectedOnly) {
        for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
            rows.append(m_filtered->mapToSource(index).row());
    } else {
        for (int row = 0; row < m_filtered->rowCount(); ++row)
            rows.append(m_filtered->mapToSource(m_filtered->index(row, 0)).row());
    }
    std::sort(rows.begin(), rows.end(), std::greater<>()); // the log is newest first
    QList<HttpExchange> list;
    for (int row : rows)
        list.append(m_log->exchangeAt(row));
    return list;
}
