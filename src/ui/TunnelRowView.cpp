#include "ui/TunnelRowView.h"

#include "model/PortText.h"
#include "model/RequestBaseUrl.h"
#include "model/ShareDuration.h"
#include "model/TunnelInstance.h"
#include "model/TunnelName.h"
#include "ui/AddressDialog.h"
#include "ui/BusySpinner.h"
#include "ui/ElidedLabel.h"
#include "ui/PaletteTint.h"
#include "ui/QrCodePanel.h"
#include "ui/RequestsWindow.h"
#include "ui/StatusDot.h"
#include "ui/SymbolIcon.h"
#include "ui/Theme.h"
#include "ui/TunnelShareMenu.h"
#include "ui/UrlActions.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>

namespace {

// A field without border or background, as plain as a label until it is edited.
void makePlain(QLineEdit* field) {
    field->setFrame(false);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
}

QToolButton* plainButton(const QString& objectName, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

TunnelRowView::TunnelRowView(TunnelInstance* instance, std::function<void()> onDelete,
                             QWidget* parent)
    : QWidget(parent)
    , m_instance(instance)
    , m_onDelete(std::move(onDelete)) {
    setObjectName(QStringLiteral("tunnelRow"));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(12, 10, 12, 10);
    root->setSpacing(6);

    // Top line: dot, name, ":", port.
    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    m_dot = new StatusDot(this);
    m_dot->setObjectName(QStringLiteral("statusDot"));
    m_nameField = new QLineEdit(this);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(tr("Name"));
    m_nameField->setAccessibleName(tr("Name"));
    m_nameField->setMaximumWidth(140);
    m_nameField->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QFont nameFont = Theme::body();
    nameFont.setWeight(QFont::Medium);
    m_nameField->setFont(nameFont);
    makePlain(m_nameField);
    m_colon = new QLabel(tr(":"), this);
    m_colon->setFont(Theme::monospaced(Theme::body()));
    m_portField = new QLineEdit(this);
    m_portField->setObjectName(QStringLiteral("portField"));
    m_portField->setPlaceholderText(tr("Port"));
    m_portField->setAccessibleName(tr("Port"));
    m_portField->setFont(Theme::monospaced(Theme::body()));
    m_portField->setFixedWidth(50);
    m_portField->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    makePlain(m_portField);
    top->addWidget(m_dot, 0, Qt::AlignVCenter);
    top->addWidget(m_nameField, 1);
    top->addStretch(0);
    top->addWidget(m_colon);
    top->addWidget(m_portField);
    root->addLayout(top);

    // Info line while connecting.
    m_connectingLine = new QWidget(this);
    m_connectingLine->setObjectName(QStringLiteral("connectingLine"));
    auto* connecting = new QHBoxLayout(m_connectingLine);
    connecting->setContentsMargins(0, 0, 0, 0);
    connecting->setSpacing(6);
    m_spinner = new BusySpinner(12, m_connectingLine);
    m_spinner->setObjectName(QStringLiteral("connectingSpinner"));
    m_connectingLabel = new QLabel(tr("Connecting..."), m_connectingLine);
    m_connectingLabel->setFont(Theme::callout());
    connecting->addWidget(m_spinner);
    connecting->addWidget(m_connectingLabel);
    connecting->addStretch(1);
    root->addWidget(m_connectingLine);

    // Info line with the public URL.
    m_urlLine = new QWidget(this);
    m_urlLine->setObjectName(QStringLiteral("urlLine"));
    auto* url = new QHBoxLayout(m_urlLine);
    url->setContentsMargins(0, 0, 0, 0);
    url->setSpacing(6);
    m_urlLabel = new ElidedLabel(m_urlLine);
    m_urlLabel->setObjectName(QStringLiteral("urlLabel"));
    m_urlLabel->setFont(Theme::callout());
    m_openButton = plainButton(QStringLiteral("openButton"), m_urlLine);
    m_openButton->setToolTip(tr("Open in Browser"));
    m_openButton->setAccessibleName(tr("Open in Browser"));
    m_qrButton = plainButton(QStringLiteral("qrButton"), m_urlLine);
    m_qrButton->setToolTip(tr("Show QR Code"));
    m_qrButton->setAccessibleName(tr("Show QR Code"));
    m_copyButton = plainButton(QStringLiteral("copyButton"), m_urlLine);
    m_copyButton->setToolTip(tr("Copy URL"));
    m_copyButton->setAccessibleName(tr("Copy URL"));
    url->addWidget(m_urlLabel, 1);
    url->addWidget(m_openButton);
    url->addWidget(m_qrButton);
    url->addWidget(m_copyButton);
    root->addWidget(m_urlLine);

    // When the time limit stops the tunnel.
    m_stopsLabel = new QLabel(this);
    m_stopsLabel->setObjectName(QStringLiteral("stopsLine"));
    m_stopsLabel->setFont(Theme::callout());
    m_stopsLabel->setTextFormat(Qt::PlainText);
    root->addWidget(m_stopsLabel);
    m_stopsTimer = new QTimer(this);
    m_stopsTimer->setObjectName(QStringLiteral("stopsTimer"));
    m_stopsTimer->setSingleShot(true);
    connect(m_stopsTimer, &QTimer::timeout, this, &TunnelRowView::refreshStopsLine);

    // What stands in the tunnel's way; the client's own line as tooltip.
    m_problemLabel = new QLabel(this);
    m_problemLabel->setObjectName(QStringLiteral("problemLine"));
    m_problemLabel->setFont(Theme::callout());
    m_problemLabel->setWordWrap(true);
    m_problemLabel->setTextFormat(Qt::PlainText);
    root->addWidget(m_problemLabel);
    // What can be done about it, where the tunnel can do it itself; never done unasked.
    m_problemButton = new QToolButton(this);
    m_problemButton->setObjectName(QStringLiteral("problemActionButton"));
    m_problemButton->setFont(Theme::callout());
    m_problemButton->setCursor(Qt::PointingHandCursor);
    root->addWidget(m_problemButton, 0, Qt::AlignLeft);

    // Control line.
    auto* controls = new QHBoxLayout;
    controls->setSpacing(8);
    m_startStopButton = plainButton(QStringLiteral("startStopButton"), this);
    m_startStopButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_startStopButton->setFont(Theme::callout());
    m_deleteButton = plainButton(QStringLiteral("deleteButton"), this);
    m_deleteButton->setAccessibleName(tr("Delete tunnel"));
    // The per-tunnel switches, in one menu so that the row does not grow with them.
    m_optionsButton = plainButton(QStringLiteral("optionsButton"), this);
    m_optionsButton->setText(QStringLiteral("\u22ef"));
    m_optionsButton->setFont(Theme::callout());
    m_optionsButton->setAccessibleName(tr("Tunnel Options"));
    m_optionsButton->setToolTip(tr("Tunnel Options"));
    m_optionsButton->setPopupMode(QToolButton::InstantPopup);
    auto* options = new QMenu(m_optionsButton);
    options->setObjectName(QStringLiteral("optionsMenu"));
    QAction* address = options->addAction(tr("Address..."));
    address->setObjectName(QStringLiteral("addressAction"));
    address->setToolTip(tr("A new quick address at each start, or one on your own domain"));
    connect(address, &QAction::triggered, this, &TunnelRowView::openAddressDialog);
    options->addSeparator();
    m_rewriteHostAction = options->addAction(tr("Open as localhost"));
    m_rewriteHostAction->setObjectName(QStringLiteral("rewriteHostAction"));
    m_rewriteHostAction->setCheckable(true);
    m_rewriteHostAction->setToolTip(
        tr("The local server sees every request as opened at localhost, so that its host check "
           "lets the tunnel through"));
    m_inspectAction = options->addAction(tr("Inspect Requests"));
    m_inspectAction->setObjectName(QStringLiteral("inspectAction"));
    m_inspectAction->setCheckable(true);
    m_inspectAction->setToolTip(tr("See every request that comes through the tunnel"));
    options->addSeparator();
    TunnelShareMenu::addTo(options, m_instance);
    options->addSeparator();
    QAction* requests = options->addAction(tr("Requests..."));
    requests->setObjectName(QStringLiteral("requestsAction"));
    options->setToolTipsVisible(true);
    m_optionsButton->setMenu(options);
    connect(requests, &QAction::triggered, this, &TunnelRowView::openInspector);
    m_requestsButton = plainButton(QStringLiteral("requestsButton"), this);
    m_requestsButton->setText(tr("Requests..."));
    m_requestsButton->setFont(Theme::callout());
    m_requestsButton->setAccessibleName(tr("Show requests"));
    controls->addWidget(m_startStopButton);
    controls->addStretch(1);
    controls->addWidget(m_requestsButton);
    controls->addWidget(m_optionsButton);
    controls->addWidget(m_deleteButton);
    root->addLayout(controls);

    const int iconSide = QFontMetrics(Theme::callout()).height() - 2;
    for (auto* button : {m_openButton, m_qrButton, m_copyButton, m_startStopButton, m_deleteButton})
        button->setIconSize({iconSide, iconSide});

    connect(m_nameField, &QLineEdit::returnPressed, this, &TunnelRowView::commitName);
    connect(m_portField, &QLineEdit::returnPressed, this, &TunnelRowView::commitPort);
    connect(m_startStopButton, &QToolButton::clicked, this, &TunnelRowView::toggleRunning);
    connect(m_copyButton, &QToolButton::clicked, this, &TunnelRowView::copyURL);
    connect(m_qrButton, &QToolButton::clicked, this, &TunnelRowView::showQrCode);
    connect(m_openButton, &QToolButton::clicked, this, [this] {
        if (m_instance && m_instance->tunnelURL())
            UrlActions::open(*m_instance->tunnelURL());
    });
    connect(m_requestsButton, &QToolButton::clicked, this, &TunnelRowView::openInspector);
    connect(m_problemButton, &QToolButton::clicked, this, &TunnelRowView::solveProblem);
    connect(m_inspectAction, &QAction::toggled, this, [this](bool on) {
        if (m_instance)
            m_instance->setInspect(on);
    });
    connect(m_rewriteHostAction, &QAction::toggled, this, [this](bool on) {
        if (m_instance)
            m_instance->setRewriteHost(on);
    });
    connect(m_deleteButton, &QToolButton::clicked, this, [this] {
        if (m_onDelete)
            m_onDelete();
    });
    if (m_instance) {
        connect(m_instance, &TunnelInstance::changed, this, &TunnelRowView::refresh);
        // A name or port set elsewhere (the command line) shows at once, unless typed here now.
        connect(m_instance, &TunnelInstance::configChanged, this, [this] {
            if (!m_nameField->hasFocus())
                m_nameField->setText(m_instance->config().name);
            if (!m_portField->hasFocus())
                m_portField->setText(QString::number(m_instance->config().port));
        });
    }

    PaletteTint::text(m_colon, Theme::Tone::Tertiary);
    PaletteTint::text(m_connectingLabel, Theme::Tone::Secondary);
    PaletteTint::text(m_urlLabel, Theme::Tone::Secondary);
    PaletteTint::text(m_stopsLabel, Theme::Tone::Secondary);
    PaletteTint::icon(m_copyButton, QStringLiteral("doc.on.doc"), Theme::Tone::Secondary);
    PaletteTint::icon(m_qrButton, QStringLiteral("qrcode"), Theme::Tone::Secondary);
    PaletteTint::icon(m_openButton, QStringLiteral("arrow.up.right.square"),
                      Theme::Tone::Secondary);
    PaletteTint::icon(m_deleteButton, QStringLiteral("trash"), Theme::Tone::Secondary);
    // The dot and the start/stop button take their colours from the state too.
    PaletteTint::follow(this, [this](const QPalette&) { refresh(); });
}

void TunnelRowView::fillFields() {
    if (!m_instance)
        return;
    m_nameField->setText(m_instance->config().name);
    m_portField->setText(QString::number(m_instance->config().port));
}

void TunnelRowView::commitName() {
    if (!m_instance)
        return;
    const QString name = trimTunnelName(m_nameField->text());
    if (name.isEmpty()) {
        m_nameField->setText(m_instance->config().name);
        return;
    }
    m_instance->setName(name);
}

void TunnelRowView::commitPort() {
    if (!m_instance)
        return;
    const std::optional<qint64> port = parsePortText(m_portField->text());
    if (!port) {
        m_portField->setText(QString::number(m_instance->config().port));
        return;
    }
    m_instance->updatePort(*port);
}

void TunnelRowView::toggleRunning() {
    if (!m_instance)
        return;
    if (m_instance->isRunning())
        m_instance->stop();
    else
        m_instance->start();
}

void TunnelRowView::copyURL() {
    if (!m_instance || !m_instance->tunnelURL())
        return;
    UrlActions::copy(*m_instance->tunnelURL());
}

void TunnelRowView::showQrCode() {
    if (!m_instance || !m_instance->tunnelURL())
        return;
    // Encoded now, not before: most URLs are never shown as a code.
    auto* panel = new QrCodePanel(m_instance, window());
    panel->showBeside(window()->frameGeometry(), QRect(mapToGlobal(QPoint(0, 0)), size()));
}

void TunnelRowView::openInspector() {
    if (!m_instance)
        return;
    // One window per tunnel, kept while its tunnel lives; it closes with the tunnel's log.
    if (!m_inspectorWindow) {
        TunnelGateway* inspector = m_instance->gateway();
        m_inspectorWindow = new RequestsWindow(
            inspector->log(), [inspector](const HttpExchange& e) { return inspector->replay(e); },
            [instance = m_instance] {
                return instance ? RequestBaseUrl::of(*instance) : QString();
            });
    }
    m_inspectorWindow->setTunnelName(m_instance->config().name);
    m_inspectorWindow->show();
    m_inspectorWindow->raise();
    m_inspectorWindow->activateWindow();
}

void TunnelRowView::openAddressDialog() {
    if (m_instance)
        (new AddressDialog(m_instance, window()))->open();
}

void TunnelRowView::solveProblem() {
    if (!m_instance)
        return;
    using Action = TunnelInstance::ProblemAction;
    switch (m_instance->problemAction()) {
    case Action::SignIn:
        emit signInRequested();
        break;
    case Action::TakeOver:
        m_instance->takeOver();
        break;
    case Action::CreateAgain:
        m_instance->createAgain();
        break;
    case Action::None:
        break;
    }
}

void TunnelRowView::refresh() {
    if (!m_instance)
        return;
    m_inspectAction->setChecked(m_instance->config().inspect);
    m_rewriteHostAction->setChecked(m_instance->config().rewriteHost);
    m_requestsButton->setVisible(m_instance->config().inspect ||
                                 m_instance->gateway()->log()->rowCount() > 0);
    using State = TunnelInstance::State;
    const State state = m_instance->state();
    const bool reconnecting = state == State::Reconnecting;
    const bool connecting = state == State::Connecting || reconnecting;
    const bool running = state != State::Stopped;
    const auto& url = m_instance->tunnelURL();

    const Theme::Named dot = connecting ? Theme::Named::Orange
                             : running  ? Theme::Named::Green
                                        : Theme::Named::Gray;
    m_dot->setColor(Theme::named(dot, palette()));
    m_dot->setPulsing(connecting);
    m_dot->setAccessibleName(reconnecting ? tr("Reconnecting")
                             : connecting ? tr("Connecting")
                             : running    ? tr("Running")
                                          : tr("Stopped"));

    m_connectingLine->setVisible(connecting);
    const QString step = m_instance->stepText();
    m_connectingLabel->setText(reconnecting     ? tr("Reconnecting...")
                               : step.isEmpty() ? tr("Connecting...")
                                                : step);
    // Shown and copyable at once, even before the tunnel can carry traffic.
    m_urlLine->setVisible(url.has_value());
    m_urlLabel->setFullText(url.value_or(QString()));

    refreshStopsLine();

    const QString problem = m_instance->problem();
    m_problemLabel->setVisible(!problem.isEmpty());
    m_problemLabel->setText(problem);
    m_problemLabel->setToolTip(m_instance->problemDetail());
    using Action = TunnelInstance::ProblemAction;
    const Action action = m_instance->problemAction();
    m_problemButton->setVisible(action != Action::None);
    m_problemButton->setText(action == Action::SignIn     ? tr("Sign In...")
                             : action == Action::TakeOver ? tr("Take Over")
                                                          : tr("Create Again"));
    m_problemButton->setToolTip(
        action == Action::TakeOver
            ? tr("Point the name at this tunnel instead of where it points now")
        : action == Action::CreateAgain
            ? tr("Delete the tunnel from your account and create it again with new credentials")
            : QString());
    Theme::setForeground(
        m_problemLabel,
        Theme::named(running ? Theme::Named::Orange : Theme::Named::Red, palette()));

    const QPalette& pal = palette();
    const QColor buttonColor = Theme::named(running ? Theme::Named::Red : Theme::Named::Green, pal);
    m_startStopButton->setText(running ? tr("Stop") : tr("Start"));
    m_startStopButton->setIcon(SymbolIcon::icon(running ? QStringLiteral("stop.circle.fill")
                                                        : QStringLiteral("play.circle.fill"),
                                                buttonColor));
    Theme::setForeground(m_startStopButton, buttonColor);
}

void TunnelRowView::refreshStopsLine() {
    m_stopsTimer->stop();
    const QDateTime stopsAt = m_instance ? m_instance->stopsAt() : QDateTime();
    m_stopsLabel->setVisible(stopsAt.isValid());
    if (!stopsAt.isValid())
        return;
    const qint64 left = std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(stopsAt));
    m_stopsLabel->setText(
        tr("Stops in %1").arg(ShareDuration::remaining(std::chrono::milliseconds(left))));
    if (!isVisible() || left == 0)
        return;
    // The words change when the rounded-up count of seconds or minutes goes down by one.
    const qint64 step = left <= 60000 ? 1000 : 60000;
    const qint64 untilChange = (left - 1) % step + 1;
    m_stopsTimer->start(int(std::min<qint64>(untilChange, std::numeric_limits<int>::max())));
}

void TunnelRowView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_stopsTimer->stop();
}

void TunnelRowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fillFields();
    refreshStopsLine();
    // The local server may have come up, or moved, while the window was hidden.
    if (m_instance)
        m_instance->checkOrigin();
}
