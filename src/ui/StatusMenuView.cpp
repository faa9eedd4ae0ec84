#include "ui/StatusMenuView.h"

#include "model/TunnelName.h"
#include "model/TunnelStore.h"
#include "platform/LoginItem.h"
#include "ui/AccountSection.h"
#include "ui/CloudflaredMissingAlert.h"
#include "ui/Divider.h"
#include "ui/PaletteTint.h"
#include "ui/PortScannerSection.h"
#include "ui/Theme.h"
#include "ui/TunnelListView.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

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

    root->addWidget(new TunnelListView(m_store, this));
    root->addWidget(new Divider(this));

    // Port scanner section: a picked port becomes "Port N"; no client check here.
    m_scanner = new PortScannerSection(
        [this](qint64 port) { m_store->addTunnel(TunnelName::forPort(port), port); }, this);
    root->addWidget(m_scanner);
    root->addWidget(new Divider(this));

    // Signing in to the account, then Launch at Login.
    auto* accountBox = new QHBoxLayout;
    accountBox->setContentsMargins(10, 6, 14, 0);
    accountBox->addWidget(new AccountSection(m_store->account(), this));
    root->addLayout(accountBox);
    auto* loginBox = new QHBoxLayout;
    loginBox->setContentsMargins(14, 4, 14, 8);
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
    connect(m_store, &TunnelStore::instancesChanged, this, &StatusMenuView::updateHeader);

    PaletteTint::text(m_activeCount, Theme::Tone::Green);
    PaletteTint::icon(m_addButton, QStringLiteral("plus.circle.fill"), Theme::Tone::Blue);
    PaletteTint::icon(m_quitButton, QStringLiteral("xmark.circle"), Theme::Tone::Text);
    updateHeader();
}

void StatusMenuView::showCloudflaredMissing() {
    if (m_alert)
        return;
    m_alert = new CloudflaredMissingAlert(window());
    m_alert->open();
}

void StatusMenuView::addTunnel() {
    if (!m_findClient || !m_findClient()) {
        showCloudflaredMissing();
        return;
    }
    m_store->addTunnel(TunnelName::defaultName(), TunnelStore::defaultPort);
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
    m_activeCount->setText(tr("%n active", nullptr, m_store->activeCount()));
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

QMessageBox* StatusMenuView::cloudflaredMissingAlert() const {
    return m_alert;
}
