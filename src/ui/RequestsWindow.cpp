#include "ui/RequestsWindow.h"

#include "model/CurlCommand.h"
#include "model/ExchangeText.h"
#include "model/HarWriter.h"
#include "model/MessageListModel.h"
#include "model/RequestLog.h"
#include "ui/PaletteTint.h"
#include "ui/RequestEditorDialog.h"
#include "ui/RequestFilterProxy.h"
#include "ui/Theme.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
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

QString shortcutText(const QKeySequence& keys) {
    return keys.toString(QKeySequence::NativeText);
}

} // namespace

RequestsWindow::RequestsWindow(RequestLog* log, std::function<void(const HttpExchange&)> onReplay,
                               std::function<QString()> baseUrl, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_log(log)
    , m_onReplay(std::move(onReplay))
    , m_baseUrl(std::move(baseUrl)) {
    setObjectName(QStringLiteral("inspectorWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(860, 640);

    m_filtered = new RequestFilterProxy(log, this);
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
    connect(m_filterDelay, &QTimer::timeout, this, &RequestsWindow::applyFilter);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(m_filterEdit, 1);
    for (int hundreds = 2; hundreds <= 5; ++hundreds) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("status%1xx").arg(hundreds));
        button->setText(tr("%1xx").arg(hundreds));
        button->setToolTip(tr("Show only answers with status %1xx").arg(hundreds));
        button->setCheckable(true);
        button->setAutoRaise(true);
        connect(button, &QToolButton::toggled, this, &RequestsWindow::applyFilter);
        m_statusButtons.append(button);
        filterRow->addWidget(button);
    }
    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(QStringLiteral("countLabel"));
    PaletteTint::text(m_countLabel, Theme::Tone::Secondary);
    filterRow->addWidget(m_countLabel);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("requestTable"));
    m_table->setAccessibleName(tr("Requests, newest first"));
    m_table->setModel(m_filtered);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
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
    m_boundLabel = new QLabel(this);
    m_boundLabel->setObjectName(QStringLiteral("boundLabel"));
    m_boundLabel->setWordWrap(true);
    PaletteTint::text(m_boundLabel, Theme::Tone::Secondary);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("detailTabs"));
    m_tabs->setAccessibleName(tr("Selected request"));
    m_requestText = detailView(QStringLiteral("requestText"), tr("Request"), m_tabs);
    m_responseText = detailView(QStringLiteral("responseText"), tr("Response"), m_tabs);
    m_tabs->addTab(m_requestText, tr("&Request"));
    m_tabs->addTab(m_responseText, tr("Re&sponse"));
    // An upgraded entry's WebSocket messages, the selected one in full below them.
    m_messages = new MessageListModel(log, this);
    m_messageTable = new QTableView(this);
    m_messageTable->setObjectName(QStringLiteral("messageTable"));
    m_messageTable->setAccessibleName(tr("WebSocket messages, oldest first"));
    m_messageTable->setModel(m_messages);
    m_messageTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_messageTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_messageTable->setShowGrid(false);
    m_messageTable->setWordWrap(false);
    m_messageTable->verticalHeader()->hide();
    m_messageTable->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 6);
    m_messageTable->horizontalHeader()->setHighlightSections(false);
    m_messageTable->horizontalHeader()->setSectionResizeMode(MessageListModel::DataColumn,
                                                             QHeaderView::Stretch);
    for (int column : {MessageListModel::DirectionColumn, MessageListModel::TimeColumn,
                       MessageListModel::SizeColumn})
        m_messageTable->horizontalHeader()->setSectionResizeMode(column,
                                                                 QHeaderView::ResizeToContents);
    m_messageText = detailView(QStringLiteral("messageText"), tr("Message"), this);
    auto* messageSplitter = new QSplitter(Qt::Vertical, this);
    messageSplitter->addWidget(m_messageTable);
    messageSplitter->addWidget(m_messageText);
    messageSplitter->setStretchFactor(0, 2);
    messageSplitter->setStretchFactor(1, 1);
    m_messagesPage = messageSplitter;
    m_tabs->addTab(m_messagesPage, tr("&Messages"));
    m_tabs->setTabVisible(2, false);
    connect(m_messageTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RequestsWindow::showSelectedMessage);
    connect(m_messages, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first) {
                // While the newest was in view, the view follows the newest.
                const QRect before = m_messageTable->visualRect(m_messages->index(first - 1, 0));
                if (first == 0 || m_messageTable->viewport()->rect().intersects(before))
                    m_messageTable->scrollToBottom();
                const int row = m_log ? m_log->rowOf(m_messages->exchangeId()) : -1;
                showMessages(row >= 0 ? &m_log->exchangeAt(row) : nullptr);
            });
    m_timingLabel = new QLabel(this);
    m_timingLabel->setObjectName(QStringLiteral("timingLabel"));
    PaletteTint::text(m_timingLabel, Theme::Tone::Secondary);
    m_tabs->setCornerWidget(m_timingLabel);

    m_replayButton = new QPushButton(tr("Re&play"), this);
    m_replayButton->setObjectName(QStringLiteral("replayButton"));
    m_replayButton->setToolTip(tr("Send the selected request to the local server again (%1)")
                                   .arg(shortcutText(QKeySequence(Qt::CTRL | Qt::Key_R))));
    m_editButton = new QPushButton(tr("&Edit and Replay…"), this);
    m_editButton->setObjectName(QStringLiteral("editButton"));
    m_editButton->setToolTip(tr("Change a copy of the selected request, then send it (%1)")
                                 .arg(shortcutText(QKeySequence(Qt::CTRL | Qt::Key_E))));
    m_curlButton = new QPushButton(tr("Copy as c&url"), this);
    m_curlButton->setObjectName(QStringLiteral("curlButton"));
    m_curlButton->setToolTip(
        tr("Copy a shell command that sends the selected request to the public URL again"));
    m_harButton = new QPushButton(tr("Save as &HAR"), this);
    m_harButton->setObjectName(QStringLiteral("harButton"));
    auto* harMenu = new QMenu(m_harButton);
    connect(harMenu->addAction(tr("All Requests Shown…")), &QAction::triggered, this,
            [this] { askToSaveHar(false); });
    m_saveSelectedAction = harMenu->addAction(tr("Selected Requests…"));
    connect(m_saveSelectedAction, &QAction::triggered, this, [this] { askToSaveHar(true); });
    m_harButton->setMenu(harMenu);
    m_clearButton = new QPushButton(tr("&Clear"), this);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    m_clearButton->setToolTip(tr("Forget every request shown here"));

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_replayButton, m_editButton, m_curlButton, m_harButton})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(m_clearButton);

    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addLayout(filterRow);
    topLayout->addWidget(m_table);
    topLayout->addWidget(m_emptyLabel);
    topLayout->addWidget(m_boundLabel);
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
    auto* editShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), this);
    connect(editShortcut, &QShortcut::activated, this, &RequestsWindow::editSelected);
    auto* findShortcut = new QShortcut(QKeySequence::Find, this);
    connect(findShortcut, &QShortcut::activated, this, [this] {
        m_filterEdit->setFocus();
        m_filterEdit->selectAll();
    });
    connect(m_replayButton, &QPushButton::clicked, this, &RequestsWindow::replaySelected);
    connect(m_editButton, &QPushButton::clicked, this, &RequestsWindow::editSelected);
    connect(m_curlButton, &QPushButton::clicked, this, &RequestsWindow::copySelectedAsCurl);
    connect(m_clearButton, &QPushButton::clicked, this, [this] {
        if (m_log)
            m_log->clear();
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RequestsWindow::showSelected);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RequestsWindow::showSelected);
    auto refresh = [this] {
        // Short columns fit what they hold now; the path takes the rest.
        for (int column :
             {RequestLog::TimeColumn, RequestLog::MethodColumn, RequestLog::StatusColumn,
              RequestLog::DurationColumn, RequestLog::SizeColumn})
            m_table->resizeColumnToContents(column);
        refreshCounts();
        showSelected();
    };
    connect(log, &QAbstractItemModel::rowsInserted, this, [this, refresh] {
        // A replay's answer arrives at the top: show it.
        if (m_selectNextReplay && m_log->rowCount() > 0 && m_log->exchangeAt(0).replayed) {
            m_selectNextReplay = false;
            m_table->clearSelection();
            selectSourceRow(0);
        } else if (selectedRow() < 0) {
            selectSourceRow(0);
        }
        refresh();
    });
    connect(log, &QAbstractItemModel::rowsRemoved, this, refresh);
    connect(log, &QAbstractItemModel::modelReset, this, refresh);
    connect(log, &RequestLog::droppedCountChanged, this, &RequestsWindow::refreshCounts);
    connect(log, &QObject::destroyed, this, &QWidget::close);
    if (log->rowCount() > 0)
        selectSourceRow(0);
    refresh();
    m_table->setFocus();
}

void RequestsWindow::setTunnelName(const QString& name) {
    setWindowTitle(tr("Requests to %1").arg(name));
}

void RequestsWindow::applyFilter() {
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
    refreshCounts();
    showSelected();
}

void RequestsWindow::refreshCounts() {
    const int total = m_log ? m_log->rowCount() : 0;
    const int shown = m_filtered->rowCount();
    m_countLabel->setText(tr("%1 of %2").arg(shown).arg(total));
    m_countLabel->setAccessibleName(tr("%1 of %2 requests shown").arg(shown).arg(total));
    m_table->setVisible(total > 0);
    m_emptyLabel->setVisible(total == 0);
    m_clearButton->setEnabled(total > 0);
    m_harButton->setEnabled(shown > 0);
    const qint64 dropped = m_log ? m_log->droppedCount() : 0;
    m_boundLabel->setText(
        tr("Older requests leave the list to keep it within %1 and %2 requests; %n so far.",
           nullptr, int(qMin<qint64>(dropped, INT_MAX)))
            .arg(QLocale().formattedDataSize(RequestLog::byteBudget, 0,
                                             QLocale::DataSizeTraditionalFormat))
            .arg(RequestLog::capacity));
    m_boundLabel->setVisible(dropped > 0);
}

void RequestsWindow::selectSourceRow(int row) {
    const QModelIndex index = m_filtered->mapFromSource(m_log->index(row, 0));
    if (index.isValid())
        m_table->selectRow(index.row());
}

int RequestsWindow::selectedRow() const {
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    if (!current.isValid() || !m_table->selectionModel()->isRowSelected(current.row()))
        return -1;
    return m_filtered->mapToSource(current).row();
}

QList<HttpExchange> RequestsWindow::exchanges(bool selectedOnly) const {
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

void RequestsWindow::showSelected() {
    const int row = m_log ? selectedRow() : -1;
    m_replayButton->setEnabled(row >= 0 && m_onReplay);
    m_editButton->setEnabled(row >= 0 && m_onReplay);
    m_curlButton->setEnabled(row >= 0);
    m_saveSelectedAction->setEnabled(m_table->selectionModel()->hasSelection());
    if (row < 0) {
        m_requestText->clear();
        m_responseText->clear();
        m_timingLabel->clear();
        showMessages(nullptr);
        return;
    }
    const HttpExchange& exchange = m_log->exchangeAt(row);
    m_requestText->setPlainText(ExchangeText::request(exchange));
    m_responseText->setPlainText(ExchangeText::response(exchange));
    m_timingLabel->setText(ExchangeText::timing(exchange));
    showMessages(&exchange);
}

void RequestsWindow::showMessages(const HttpExchange* exchange) {
    const bool upgraded = exchange && (exchange->status == 101 || !exchange->messages.isEmpty());
    m_messages->setExchange(upgraded ? exchange->id : 0);
    m_tabs->setTabVisible(m_tabs->indexOf(m_messagesPage), upgraded);
    if (!upgraded)
        return m_messageText->clear();
    const qint64 count = exchange->messages.size() + exchange->messagesDropped;
    m_tabs->setTabText(m_tabs->indexOf(m_messagesPage),
                       tr("&Messages (%1)").arg(QLocale().toString(count)));
    if (!m_messageTable->selectionModel()->hasSelection())
        showSelectedMessage();
}

void RequestsWindow::showSelectedMessage() {
    const QModelIndex current = m_messageTable->selectionModel()->currentIndex();
    const WebSocketMessage* message = m_messages->messageAt(current.isValid() ? current.row() : -1);
    if (!message) {
        m_messageText->setPlainText(m_messages->rowCount()
                                        ? tr("Select a message to see it in full.")
                                        : tr("No messages yet. They appear here as they pass."));
        return;
    }
    if (message->unreadable) {
        m_messageText->setPlainText(MessageListModel::summary(*message));
        return;
    }
    // Text as text (JSON pretty-printed), anything else as binary.
    m_messageText->setPlainText(ExchangeText::body(
        message->payload, message->isText() ? "text/plain" : "application/octet-stream",
        message->size));
}

void RequestsWindow::replaySelected() {
    const int row = selectedRow();
    if (row < 0 || !m_log || !m_onReplay)
        return;
    m_selectNextReplay = true;
    m_onReplay(m_log->exchangeAt(row));
}

void RequestsWindow::editSelected() {
    const int row = selectedRow();
    if (row < 0 || !m_log || !m_onReplay)
        return;
    auto* editor = new RequestEditorDialog(m_log->exchangeAt(row), this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::accepted, this, [this, editor] {
        m_selectNextReplay = true;
        m_onReplay(editor->edited());
    });
    editor->open();
}

void RequestsWindow::copySelectedAsCurl() {
    const int row = selectedRow();
    if (row < 0 || !m_log)
        return;
    QGuiApplication::clipboard()->setText(
        CurlCommand::of(m_log->exchangeAt(row), m_baseUrl ? m_baseUrl() : QString()));
    // Copying shows nothing by itself: say it on the button for a moment.
    m_curlButton->setText(tr("Copied"));
    QTimer::singleShot(1500, m_curlButton,
                       [button = m_curlButton] { button->setText(tr("Copy as c&url")); });
}

void RequestsWindow::saveHar(const QString& path, bool selectedOnly) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(HarWriter::document(exchanges(selectedOnly),
                                       m_baseUrl ? m_baseUrl() : QString())) < 0 ||
        !file.commit())
        QMessageBox::warning(this, tr("Save as HAR"),
                             tr("The requests could not be saved: %1").arg(file.errorString()));
}

void RequestsWindow::askToSaveHar(bool selectedOnly) {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save as HAR"), QStringLiteral("requests.har"), tr("HTTP Archive (*.har)"));
    if (!path.isEmpty())
        saveHar(path, selectedOnly);
}
