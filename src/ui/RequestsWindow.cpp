#include "ui/RequestsWindow.h"

#include "model/ExchangeText.h"
#include "model/RequestLog.h"
#include "ui/PaletteTint.h"
#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QPlainTextEdit* detailView(const QString& objectName, const QString& accessibleName,
                           QWidget* parent) {
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName(objectName);
    view->setAccessibleName(accessibleName);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(Theme::monospaced(Theme::callout()));
    // Read-only text still takes Tab for itself; let it move the focus on.
    view->setTabChangesFocus(true);
    return view;
}

} // namespace

RequestsWindow::RequestsWindow(RequestLog* log, std::function<void(const HttpExchange&)> onReplay,
                               QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_log(log)
    , m_onReplay(std::move(onReplay)) {
    setObjectName(QStringLiteral("inspectorWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(820, 600);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("requestTable"));
    m_table->setAccessibleName(tr("Requests, newest first"));
    m_table->setModel(log);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 6);
    m_table->horizontalHeader()->setSectionResizeMode(RequestLog::PathColumn, QHeaderView::Stretch);
    m_table->horizontalHeader()->setHighlightSections(false);
    for (int column : {RequestLog::TimeColumn, RequestLog::MethodColumn, RequestLog::StatusColumn,
                       RequestLog::DurationColumn, RequestLog::SizeColumn})
        m_table->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);

    m_emptyLabel = new QLabel(
        tr("No requests yet. Requests that reach the tunnel's public URL appear here."), this);
    m_emptyLabel->setObjectName(QStringLiteral("emptyLabel"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setWordWrap(true);
    PaletteTint::text(m_emptyLabel, Theme::Tone::Secondary);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("detailTabs"));
    m_tabs->setAccessibleName(tr("Selected request"));
    m_requestText = detailView(QStringLiteral("requestText"), tr("Request"), m_tabs);
    m_responseText = detailView(QStringLiteral("responseText"), tr("Response"), m_tabs);
    m_tabs->addTab(m_requestText, tr("&Request"));
    m_tabs->addTab(m_responseText, tr("Re&sponse"));

    m_replayButton = new QPushButton(tr("Re&play"), this);
    m_replayButton->setObjectName(QStringLiteral("replayButton"));
    m_replayButton->setToolTip(
        tr("Send the selected request to the local server again (%1)")
            .arg(QKeySequence(Qt::CTRL | Qt::Key_R).toString(QKeySequence::NativeText)));
    m_clearButton = new QPushButton(tr("&Clear"), this);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setToolTip(tr("Forget every request shown here"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_replayButton);
    buttons->addStretch(1);
    buttons->addWidget(m_clearButton);

    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(m_table);
    topLayout->addWidget(m_emptyLabel);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(top);
    splitter->addWidget(m_tabs);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    auto* root = new QVBoxLayout(this);
    root->addWidget(splitter, 1);
    root->addLayout(buttons);

    auto* closeShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);
    auto* replayShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(replayShortcut, &QShortcut::activated, this, &RequestsWindow::replaySelected);
    connect(m_replayButton, &QPushButton::clicked, this, &RequestsWindow::replaySelected);
    connect(m_clearButton, &QPushButton::clicked, this, [this] {
        if (m_log)
            m_log->clear();
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RequestsWindow::showSelected);
    auto refresh = [this] {
        const bool empty = !m_log || m_log->rowCount() == 0;
        // Short columns fit what they hold now; the path takes the rest.
        for (int column :
             {RequestLog::TimeColumn, RequestLog::MethodColumn, RequestLog::StatusColumn,
              RequestLog::DurationColumn, RequestLog::SizeColumn})
            m_table->resizeColumnToContents(column);
        m_table->setVisible(!empty);
        m_emptyLabel->setVisible(empty);
        m_clearButton->setEnabled(!empty);
        showSelected();
    };
    connect(log, &QAbstractItemModel::rowsInserted, this, [this, refresh] {
        // A replay's answer arrives at the top: show it.
        if (m_selectNextReplay && m_log->rowCount() > 0 && m_log->exchangeAt(0).replayed) {
            m_selectNextReplay = false;
            m_table->selectRow(0);
        } else if (selectedRow() < 0) {
            m_table->selectRow(0);
        }
        refresh();
    });
    connect(log, &QAbstractItemModel::rowsRemoved, this, refresh);
    connect(log, &QAbstractItemModel::modelReset, this, refresh);
    connect(log, &QObject::destroyed, this, &QWidget::close);
    if (log->rowCount() > 0)
        m_table->selectRow(0);
    refresh();
    m_table->setFocus();
}

void RequestsWindow::setTunnelName(const QString& name) {
    setWindowTitle(tr("Requests to %1").arg(name));
}

int RequestsWindow::selectedRow() const {
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    return current.isValid() && m_table->selectionModel()->isRowSelected(current.row())
               ? current.row()
               : -1;
}

void RequestsWindow::showSelected() {
    const int row = selectedRow();
    m_replayButton->setEnabled(row >= 0 && m_onReplay);
    if (row < 0 || !m_log) {
        m_requestText->clear();
        m_responseText->clear();
        return;
    }
    const HttpExchange& exchange = m_log->exchangeAt(row);
    m_requestText->setPlainText(ExchangeText::request(exchange));
    m_responseText->setPlainText(ExchangeText::response(exchange));
}

void RequestsWindow::replaySelected() {
    const int row = selectedRow();
    if (row < 0 || !m_log || !m_onReplay)
        return;
    m_selectNextReplay = true;
    m_onReplay(m_log->exchangeAt(row));
}
