#include "ui/TunnelListView.h"

#include "model/TunnelStore.h"
#include "ui/Divider.h"
#include "ui/PaletteTint.h"
#include "ui/Theme.h"
#include "ui/TunnelRowView.h"

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

TunnelListView::TunnelListView(TunnelStore* store, QWidget* parent)
    : QWidget(parent)
    , m_store(store) {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    m_emptyState = new QWidget(this);
    m_emptyState->setObjectName(QStringLiteral("emptyState"));
    auto* empty = new QVBoxLayout(m_emptyState);
    empty->setContentsMargins(0, 20, 0, 20);
    empty->setSpacing(8);
    auto* icon = new QLabel(m_emptyState);
    auto* title = new QLabel(tr("No tunnels configured"), m_emptyState);
    title->setFont(Theme::callout());
    auto* hint = new QLabel(tr("Tap + to add one"), m_emptyState);
    hint->setFont(Theme::callout());
    for (auto* label : {icon, title, hint})
        empty->addWidget(label, 0, Qt::AlignHCenter);
    PaletteTint::symbol(icon, QStringLiteral("cloud.slash"), Theme::Tone::Tertiary,
                        QFontMetrics(Theme::title()).height());
    PaletteTint::text(title, Theme::Tone::Tertiary);
    PaletteTint::text(hint, Theme::Tone::Quaternary);
    root->addWidget(m_emptyState);

    m_list = new QScrollArea(this);
    m_list->setObjectName(QStringLiteral("tunnelList"));
    m_list->setFrameShape(QFrame::NoFrame);
    // The rows' controls take the focus; the list itself would be a stop without a name.
    m_list->setFocusPolicy(Qt::NoFocus);
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

    connect(m_store, &TunnelStore::instancesChanged, this, &TunnelListView::syncRows);
    syncRows();
}

void TunnelListView::syncRows() {
    const auto& instances = m_store->instances();
    QHash<QUuid, TunnelRowView*> kept;
    for (TunnelInstance* instance : instances) {
        TunnelRowView* row = m_rows.take(instance->id());
        if (!row) {
            const QUuid id = instance->id();
            row = new TunnelRowView(
                instance, [this, id] { removeTunnel(id); }, m_listContent);
            connect(row, &TunnelRowView::signInRequested, this, [this, id] { signInFor(id); });
        }
        kept.insert(instance->id(), row);
    }
    // Rows of removed tunnels go (later: one of them may be running its own click handler).
    for (TunnelRowView* row : std::as_const(m_rows)) {
        row->hide();
        m_listLayout->removeWidget(row);
        row->deleteLater();
    }
    // A copy: deleting a divider changes the list of children.
    const QObjectList children = m_listContent->children();
    for (QObject* child : children) {
        if (auto* divider = qobject_cast<Divider*>(child)) {
            m_listLayout->removeWidget(divider);
            delete divider;
        }
    }
    m_rows = kept;

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
    updateListHeight();
}

void TunnelListView::updateListHeight() {
    const int content = m_listLayout->sizeHint().height();
    const int height = qMin(content, maxListHeight);
    if (m_list->height() != height || m_list->minimumHeight() != height)
        m_list->setFixedHeight(height);
}

bool TunnelListView::eventFilter(QObject* watched, QEvent* event) {
    // Rows change height as their info line comes and goes.
    if (watched == m_listContent && event->type() == QEvent::LayoutRequest)
        QTimer::singleShot(0, this, &TunnelListView::updateListHeight);
    return QWidget::eventFilter(watched, event);
}

void TunnelListView::removeTunnel(const QUuid& id) {
    const TunnelInstance* tunnel = m_store->instance(id);
    if (!tunnel || tunnel->publicHostname().isEmpty())
        return m_store->removeTunnel(id);
    auto* ask =
        new QMessageBox(QMessageBox::Question, tr("Remove %1?").arg(tunnel->config().name),
                        tr("Remove %1?").arg(tunnel->config().name), QMessageBox::Cancel, window());
    ask->setObjectName(QStringLiteral("removeNamedPrompt"));
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setInformativeText(
        tr("%1 points at a tunnel in your account. Delete that tunnel from the account too? "
           "Kept, it stays there with its credentials, and the name keeps pointing at it.")
            .arg(tunnel->publicHostname()));
    QPushButton* remote = ask->addButton(tr("Delete from Account"), QMessageBox::DestructiveRole);
    remote->setObjectName(QStringLiteral("deleteRemoteButton"));
    QPushButton* keep = ask->addButton(tr("Keep in Account"), QMessageBox::AcceptRole);
    keep->setObjectName(QStringLiteral("keepRemoteButton"));
    ask->setDefaultButton(keep);
    connect(ask, &QMessageBox::buttonClicked, this, [this, id, remote, keep](auto* button) {
        if (button == remote || button == keep)
            m_store->removeTunnel(id, button == remote);
    });
    ask->open();
}

void TunnelListView::signInFor(const QUuid& id) {
    Account* account = m_store->account();
    connect(
        account, &Account::signInFinished, this,
        [this, id](const AccountOutcome& outcome) {
            TunnelInstance* tunnel = m_store->instance(id);
            if (outcome.kind == AccountOutcome::Kind::Done && tunnel && !tunnel->isRunning())
                tunnel->start();
        },
        Qt::SingleShotConnection);
    account->signIn();
}
