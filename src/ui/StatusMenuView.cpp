#include "ui/StatusMenuView.h"

#include "model/TunnelStore.h"
#include "platform/LoginItem.h"
#include "ui/Divider.h"
#include "ui/PortScannerSection.h"
#include "ui/SymbolIcon.h"
#include "ui/Theme.h"
#include "ui/TunnelRowView.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

QString StatusMenuView::installCommand() {
    return QStringLiteral("brew install cloudflared");
}

StatusMenuView::StatusMenuView(TunnelStore* store, LoginItem* loginItem, ClientLocator findClient,
                               QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_loginItem(loginItem)
    , m_findClient(std::move(findClient)) {
    setObjectName(QStringLiteral("statusMenuView"));
    setFixedWidth(windowWidth);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Header.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 12, 14, 10);
    m_title = new QLabel(tr("Tunnels"), this);
    m_title->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = Theme::title3();
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    m_activeCount = new QLabel(this);
    m_activeCount->setObjectName(QStringLiteral("activeCountLabel"));
    m_activeCount->setFont(Theme::callout());
    m_activeCount->setContentsMargins(0, 0, 4, 0);
    m_addButton = new QToolButton(this);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setToolTip(tr("Add tunnel"));
    m_addButton->setAccessibleName(tr("Add tunnel"));
    m_addButton->setAutoRaise(true);
    m_addButton->setCursor(Qt::PointingHandCursor);
    const int addSide = QFontMetrics(Theme::title3()).height();
    m_addButton->setIconSize({addSide, addSide});
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_activeCount);
    header->addWidget(m_addButton);
    root->addLayout(header);
    root->addWidget(new Divider(this));

    // Empty state.
    m_emptyState = new QWidget(this);
    m_emptyState->setObjectName(QStringLiteral("emptyState"));
    auto* empty = new QVBoxLayout(m_emptyState);
    empty->setContentsMargins(0, 20, 0, 20);
    empty->setSpacing(8);
    m_emptyIcon = new QLabel(m_emptyState);
    m_emptyTitle = new QLabel(tr("No tunnels configured"), m_emptyState);
    m_emptyTitle->setFont(Theme::callout());
    m_emptyHint = new QLabel(tr("Tap + to add one"), m_emptyState);
    m_emptyHint->setFont(Theme::callout());
    for (auto* label : {m_emptyIcon, m_emptyTitle, m_emptyHint})
        empty->addWidget(label, 0, Qt::AlignHCenter);
    root->addWidget(m_emptyState);

    // Tunnel list: as tall as its rows, scrolling beyond maxListHeight.
    m_list = new QScrollArea(this);
    m_list->setObjectName(QStringLiteral("tunnelList"));
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setWidgetResizable(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->viewport()->setAutoFillBackground(false);
    m_listContent = new QWidget(m_list);
    m_listContent->setAutoFillBackground(false);
    m_listLayout = new QVBoxLayout(m_listContent);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(0);
    m_listLayout->addStretch(1);
    m_list->setWidget(m_listContent);
    m_listContent->installEventFilter(this);
    root->addWidget(m_list);
    root->addWidget(new Divider(this));

    // Port scanner section: a picked port becomes "Port N"; no client check here.
    m_scanner = new PortScannerSection(
        [this](qint64 port) { m_store->addTunnel(tr("Port %1").arg(port), port); }, this);
    root->addWidget(m_scanner);
    root->addWidget(new Divider(this));

    // Launch at Login.
    auto* loginBox = new QHBoxLayout;
    loginBox->setContentsMargins(14, 8, 14, 8);
    m_launchAtLogin = new QCheckBox(tr("Launch at Login"), this);
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
    m_launchAtLogin->setFont(Theme::callout());
    m_launchAtLogin->setChecked(m_loginItem && m_loginItem->isEnabled());
    loginBox->addWidget(m_launchAtLogin);
    loginBox->addStretch(1);
    root->addLayout(loginBox);
    root->addWidget(new Divider(this));

    // Quit.
    auto* quitBox = new QHBoxLayout;
    quitBox->setContentsMargins(14, 8, 14, 12);
    m_quitButton = new QToolButton(this);
    m_quitButton->setObjectName(QStringLiteral("quitButton"));
    m_quitButton->setText(tr("Quit"));
    m_quitButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_quitButton->setFont(Theme::callout());
    m_quitButton->setAutoRaise(true);
    const int quitSide = QFontMetrics(Theme::callout()).height() - 2;
    m_quitButton->setIconSize({quitSide, quitSide});
    quitBox->addWidget(m_quitButton);
    quitBox->addStretch(1);
    root->addLayout(quitBox);

    connect(m_addButton, &QToolButton::clicked, this, &StatusMenuView::addTunnel);
    connect(m_launchAtLogin, &QCheckBox::toggled, this, &StatusMenuView::launchAtLoginToggled);
    connect(m_quitButton, &QToolButton::clicked, this, &StatusMenuView::quitRequested);
    connect(m_store, &TunnelStore::changed, this, &StatusMenuView::updateHeader);
    connect(m_store, &TunnelStore::instancesChanged, this, &StatusMenuView::syncRows);

    applyColors();
    syncRows();
}

void StatusMenuView::showCloudflaredMissing() {
    if (m_alert)
        return;
    const QString title = tr("cloudflared not found");
    auto* alert =
        new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::NoButton, window());
    // The title also heads the box itself: not every window manager shows window titles.
    alert->setInformativeText(
        tr("cloudflared is not installed.\nInstall it with: %1").arg(installCommand()));
    if (auto* heading = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
    }
    alert->setObjectName(QStringLiteral("cloudflaredMissingAlert"));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* copy = alert->addButton(tr("Copy Install Command"), QMessageBox::AcceptRole);
    copy->setObjectName(QStringLiteral("copyInstallCommandButton"));
    QPushButton* ok = alert->addButton(tr("OK"), QMessageBox::RejectRole);
    ok->setObjectName(QStringLiteral("okButton"));
    alert->setDefaultButton(ok);
    alert->setEscapeButton(ok);
    connect(copy, &QPushButton::clicked, this,
            [] { QApplication::clipboard()->setText(installCommand(), QClipboard::Clipboard); });
    m_alert = alert;
    alert->open();
}

void StatusMenuView::addTunnel() {
    if (!m_findClient || !m_findClient()) {
        showCloudflaredMissing();
        return;
    }
    m_store->addTunnel(tr("Tunnel"), 8000);
}

void StatusMenuView::syncRows() {
    const auto& instances = m_store->instances();
    QHash<QUuid, TunnelRowView*> kept;
    for (TunnelInstance* instance : instances) {
        TunnelRowView* row = m_rows.take(instance->id());
        if (!row) {
            const QUuid id = instance->id();
            row = new TunnelRowView(
                instance, [this, id] { m_store->removeTunnel(id); },
                [this] { m_store->saveTunnels(); }, m_listContent);
        }
        kept.insert(instance->id(), row);
    }
    // Rows of removed tunnels go (later: one of them may be running its own click handler).
    for (TunnelRowView* row : std::as_const(m_rows)) {
        row->hide();
        row->parentWidget()->layout()->removeWidget(row);
        row->deleteLater();
    }
    for (QObject* child : m_listContent->children()) {
        if (auto* divider = qobject_cast<Divider*>(child)) {
            m_listLayout->removeWidget(divider);
            delete divider;
        }
    }
    m_rows = kept;

    // Lay out in list order, each row followed by a divider.
    int index = 0;
    for (TunnelInstance* instance : instances) {
        TunnelRowView* row = m_rows.value(instance->id());
        m_listLayout->removeWidget(row);
        m_listLayout->insertWidget(index++, row);
        m_listLayout->insertWidget(index++, new Divider(m_listContent));
        row->show();
    }

    const bool empty = instances.empty();
    m_emptyState->setVisible(empty);
    m_list->setVisible(!empty);
    updateHeader();
    updateListHeight();
}

namespace {

// Focusable widgets in the order their layouts show them, top to bottom, left to right.
void collectTabStops(const QLayout* layout, const QWidget* root, QList<QWidget*>& stops) {
    for (int i = 0; layout && i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (const QLayout* inner = item->layout()) {
            collectTabStops(inner, root, stops);
            continue;
        }
        QWidget* widget = item->widget();
        if (!widget || !widget->isVisibleTo(root))
            continue;
        if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
            if (scroll->widget())
                collectTabStops(scroll->widget()->layout(), root, stops);
            continue;
        }
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled())
            stops << widget;
        collectTabStops(widget->layout(), root, stops);
    }
}

} // namespace

bool StatusMenuView::focusNextPrevChild(bool next) {
    // Rows and scanner results come and go after the controls below them were made, so the
    // creation-ordered focus chain would send Tab to Quit before the rows. Tab follows the eye.
    QList<QWidget*> stops;
    collectTabStops(layout(), this, stops);
    if (stops.isEmpty())
        return QWidget::focusNextPrevChild(next);
    const qsizetype at = stops.indexOf(QApplication::focusWidget());
    const qsizetype count = stops.size();
    const qsizetype to = at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
    stops[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void StatusMenuView::updateHeader() {
    const bool running = m_store->hasRunningTunnel();
    m_activeCount->setVisible(running);
    m_activeCount->setText(tr("%1 active").arg(m_store->activeCount()));
}

void StatusMenuView::updateListHeight() {
    const int content = m_listLayout->sizeHint().height();
    const int height = qMin(content, maxListHeight);
    if (m_list->height() != height || m_list->minimumHeight() != height)
        m_list->setFixedHeight(height);
}

bool StatusMenuView::eventFilter(QObject* watched, QEvent* event) {
    // Rows change height as their info line comes and goes.
    if (watched == m_listContent && event->type() == QEvent::LayoutRequest)
        QTimer::singleShot(0, this, &StatusMenuView::updateListHeight);
    return QWidget::eventFilter(watched, event);
}

void StatusMenuView::launchAtLoginToggled(bool enabled) {
    if (!m_loginItem)
        return;
    if (!m_loginItem->setEnabled(enabled)) {
        // Show the registration as it really is; this may run the handler once more.
        m_launchAtLogin->setChecked(m_loginItem->isEnabled());
    }
}

void StatusMenuView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    // Checked once the window is on screen, so the alert has a parent to sit on.
    QTimer::singleShot(0, this, [this] {
        if (isVisible() && (!m_findClient || !m_findClient()))
            showCloudflaredMissing();
    });
}

void StatusMenuView::applyColors() {
    const QPalette& pal = palette();
    Theme::setForeground(m_activeCount, Theme::named(Theme::Named::Green, pal));
    m_addButton->setIcon(SymbolIcon::icon(QStringLiteral("plus.circle.fill"),
                                          Theme::named(Theme::Named::Blue, pal)));
    const int emptySide = QFontMetrics(Theme::title()).height();
    m_emptyIcon->setPixmap(SymbolIcon::icon(QStringLiteral("cloud.slash"), Theme::tertiary(pal))
                               .pixmap(QSize(emptySide, emptySide), devicePixelRatioF()));
    Theme::setForeground(m_emptyTitle, Theme::tertiary(pal));
    Theme::setForeground(m_emptyHint, Theme::quaternary(pal));
    m_quitButton->setIcon(
        SymbolIcon::icon(QStringLiteral("xmark.circle"), pal.color(QPalette::WindowText)));
}

void StatusMenuView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}
