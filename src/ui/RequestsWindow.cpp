#include "ui/RequestsWindow.h"

#include "model/CurlCommand.h"
#include "model/HarWriter.h"
#include "model/RequestLog.h"
#include "ui/RequestDetailPane.h"
#include "ui/RequestEditorDialog.h"
#include "ui/RequestListPane.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString shortcutText(const QKeySequence& keys) {
    return keys.toString(QKeySequence::NativeText);
}

} // namespace

RequestsWindow::RequestsWindow(RequestLog* log, Replay onReplay, std::function<QString()> baseUrl,
                               QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_log(log)
    , m_onReplay(std::move(onReplay))
    , m_baseUrl(std::move(baseUrl))
    , m_list(new RequestListPane(log, this))
    , m_detail(new RequestDetailPane(log, this)) {
    setObjectName(QStringLiteral("inspectorWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(860, 640);

    m_replayButton = addButton(tr("Re&play"), "replayButton",
                               tr("Send the selected request to the local server again (%1)")
                                   .arg(shortcutText(QKeySequence(Qt::CTRL | Qt::Key_R))));
    m_editButton = addButton(tr("&Edit and Replay…"), "editButton",
                             tr("Change a copy of the selected request, then send it (%1)")
                                 .arg(shortcutText(QKeySequence(Qt::CTRL | Qt::Key_E))));
    m_curlButton = addButton(
        tr("Copy as c&url"), "curlButton",
        tr("Copy a shell command that sends the selected request to the public URL again"));
    m_harButton = addButton(tr("Save as &HAR"), "harButton", {});
    auto* harMenu = new QMenu(m_harButton);
    connect(harMenu->addAction(tr("All Requests Shown…")), &QAction::triggered, this,
            [this] { askToSaveHar(false); });
    m_saveSelectedAction = harMenu->addAction(tr("Selected Requests…"));
    connect(m_saveSelectedAction, &QAction::triggered, this, [this] { askToSaveHar(true); });
    m_harButton->setMenu(harMenu);
    m_clearButton = addButton(tr("&Clear"), "clearButton", tr("Forget every request shown here"));

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {m_replayButton, m_editButton, m_curlButton, m_harButton})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(m_clearButton);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_list);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    auto* root = new QVBoxLayout(this);
    root->addWidget(splitter, 1);
    root->addLayout(buttons);

    const auto shortcut = [this](const QKeySequence& keys, auto slot) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_Escape), &QWidget::close);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_R), &RequestsWindow::replaySelected);
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), &RequestsWindow::editSelected);
    shortcut(QKeySequence::Find, [this] { m_list->focusFilter(); });
    connect(m_replayButton, &QPushButton::clicked, this, &RequestsWindow::replaySelected);
    connect(m_editButton, &QPushButton::clicked, this, &RequestsWindow::editSelected);
    connect(m_curlButton, &QPushButton::clicked, this, &RequestsWindow::copySelectedAsCurl);
    connect(m_clearButton, &QPushButton::clicked, this, [this] {
        if (m_log)
            m_log->clear();
    });
    connect(m_list, &RequestListPane::changed, this, &RequestsWindow::showSelected);
    connect(log, &QObject::destroyed, this, &QWidget::close);
    showSelected();
    m_list->setFocus();
}

QPushButton* RequestsWindow::addButton(const QString& text, const char* objectName,
                                       const QString& toolTip) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(objectName));
    button->setToolTip(toolTip);
    return button;
}

void RequestsWindow::setTunnelName(const QString& name) {
    setWindowTitle(tr("Requests to %1").arg(name));
}

QList<HttpExchange> RequestsWindow::exchanges(bool selectedOnly) const {
    return m_list->exchanges(selectedOnly);
}

void RequestsWindow::showSelected() {
    const int row = m_log ? m_list->selectedRow() : -1;
    m_replayButton->setEnabled(row >= 0 && m_onReplay);
    m_editButton->setEnabled(row >= 0 && m_onReplay);
    m_curlButton->setEnabled(row >= 0);
    m_saveSelectedAction->setEnabled(m_list->hasSelection());
    m_clearButton->setEnabled(m_log && m_log->rowCount() > 0);
    m_harButton->setEnabled(m_list->shownCount() > 0);
    m_detail->showExchange(row >= 0 ? &m_log->exchangeAt(row) : nullptr);
}

void RequestsWindow::replay(const HttpExchange& exchange) {
    m_list->selectWhenArrived(m_onReplay(exchange));
}

void RequestsWindow::replaySelected() {
    const int row = m_list->selectedRow();
    if (row >= 0 && m_log && m_onReplay)
        replay(m_log->exchangeAt(row));
}

void RequestsWindow::editSelected() {
    const int row = m_list->selectedRow();
    if (row < 0 || !m_log || !m_onReplay)
        return;
    auto* editor = new RequestEditorDialog(m_log->exchangeAt(row), this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::accepted, this, [this, editor] { replay(editor->edited()); });
    editor->open();
}

void RequestsWindow::copySelectedAsCurl() {
    const int row = m_list->selectedRow();
    if (row < 0 || !m_log)
        return;
    QGuiApplication::clipboard()->setText(
        CurlCommand::of(m_log->exchangeAt(row), m_baseUrl ? m_baseUrl() : QString()));
    // Copying shows nothing by itself: say it on the button for a moment.
    const QString text = m_curlButton->text();
    m_curlButton->setText(tr("Copied"));
    QTimer::singleShot(1500, m_curlButton,
                       [button = m_curlButton, text] { button->setText(text); });
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
