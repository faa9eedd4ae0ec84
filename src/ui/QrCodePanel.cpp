#include "ui/QrCodePanel.h"

#include "model/SharePassword.h"
#include "model/TunnelInstance.h"
#include "ui/PaletteTint.h"
#include "ui/QrCodeView.h"
#include "ui/Theme.h"
#include "ui/UrlActions.h"

#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int gap = 6;

} // namespace

QrCodePanel::QrCodePanel(TunnelInstance* instance, QWidget* parent)
    : QFrame(parent, Qt::Popup)
    , m_instance(instance) {
    setObjectName(QStringLiteral("qrCodePanel"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAutoFillBackground(true);
    // Frameless like the status window, so it draws its own edge.
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(16, 14, 16, 14);
    root->setSpacing(10);
    root->setSizeConstraint(QLayout::SetFixedSize);

    m_title = new QLabel(this);
    QFont titleFont = Theme::title3();
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    m_code = new QrCodeView(this);
    m_code->setObjectName(QStringLiteral("qrCode"));
    m_code->setAccessibleName(tr("QR Code"));
    // The whole URL, one line: the panel grows to it rather than cutting it.
    m_url = new QLabel(this);
    m_url->setObjectName(QStringLiteral("qrUrlLabel"));
    m_url->setTextFormat(Qt::PlainText);
    m_url->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_url->setFont(Theme::callout());

    // User and password, to be read aloud or typed: monospaced, selectable.
    m_credentials = new QWidget(this);
    m_credentials->setObjectName(QStringLiteral("qrCredentials"));
    auto* credentials = new QFormLayout(m_credentials);
    credentials->setContentsMargins(0, 0, 0, 0);
    credentials->setLabelAlignment(Qt::AlignRight);
    auto valueLabel = [this](const QString& objectName) {
        auto* label = new QLabel(m_credentials);
        label->setObjectName(objectName);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        label->setFont(Theme::monospaced(Theme::body()));
        return label;
    };
    m_userLabel = valueLabel(QStringLiteral("qrUserLabel"));
    m_passwordLabel = valueLabel(QStringLiteral("qrPasswordLabel"));
    credentials->addRow(tr("User:"), m_userLabel);
    credentials->addRow(tr("Password:"), m_passwordLabel);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_copyButton = new QPushButton(tr("Copy URL"), this);
    m_copyButton->setObjectName(QStringLiteral("qrCopyButton"));
    m_openButton = new QPushButton(tr("Open in Browser"), this);
    m_openButton->setObjectName(QStringLiteral("qrOpenButton"));
    m_copyPasswordButton = new QPushButton(tr("Copy Password"), this);
    m_copyPasswordButton->setObjectName(QStringLiteral("qrCopyPasswordButton"));
    buttons->addStretch(1);
    buttons->addWidget(m_copyButton);
    buttons->addWidget(m_copyPasswordButton);
    buttons->addWidget(m_openButton);
    buttons->addStretch(1);

    root->addWidget(m_title, 0, Qt::AlignHCenter);
    root->addWidget(m_code, 0, Qt::AlignHCenter);
    root->addWidget(m_url, 0, Qt::AlignHCenter);
    root->addWidget(m_credentials, 0, Qt::AlignHCenter);
    root->addLayout(buttons);

    connect(m_copyButton, &QPushButton::clicked, this, [this] {
        if (m_instance && m_instance->tunnelURL())
            UrlActions::copy(*m_instance->tunnelURL());
    });
    connect(m_copyPasswordButton, &QPushButton::clicked, this, [this] {
        if (m_instance && !m_instance->password().isEmpty())
            QGuiApplication::clipboard()->setText(m_instance->password());
    });
    connect(m_openButton, &QPushButton::clicked, this, [this] {
        if (m_instance && m_instance->tunnelURL())
            UrlActions::open(*m_instance->tunnelURL());
        close();
    });
    if (m_instance) {
        // Judged once the change is complete: a restart clears the URL before it schedules
        // the new start.
        connect(m_instance, &TunnelInstance::changed, this,
                [this] { QTimer::singleShot(0, this, &QrCodePanel::follow); });
    }
    PaletteTint::text(m_url, Theme::Tone::Secondary);
    follow();
}

void QrCodePanel::follow() {
    if (!m_instance) {
        close();
        return;
    }
    m_title->setText(m_instance->config().name);
    if (const auto& url = m_instance->tunnelURL()) {
        m_code->setText(*url);
        m_url->setText(*url);
    } else if (m_instance->isRunning()) {
        m_code->setText(QString());
        m_url->setText(tr("Connecting..."));
    } else {
        close();
        return;
    }
    const bool hasUrl = m_instance->tunnelURL().has_value();
    m_copyButton->setEnabled(hasUrl);
    m_openButton->setEnabled(hasUrl);
    const QString password = m_instance->password();
    m_userLabel->setText(SharePassword::userName.toString());
    m_passwordLabel->setText(password);
    m_credentials->setVisible(!password.isEmpty());
    m_copyPasswordButton->setVisible(!password.isEmpty());
}

void QrCodePanel::showBeside(const QRect& host, const QRect& anchor) {
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(host.center());
    const QRect area = screen ? screen->availableGeometry() : host.united(anchor);
    // Left of the window (a tray sits at an edge, so there is room inward), else right of it,
    // else over it.
    int x = host.left() - gap - width();
    if (x < area.left())
        x = host.right() + 1 + gap;
    if (x + width() > area.right() + 1)
        x = host.center().x() - width() / 2;
    int y = anchor.center().y() - height() / 2;
    x = qBound(area.left(), x, qMax(area.left(), area.right() + 1 - width()));
    y = qBound(area.top(), y, qMax(area.top(), area.bottom() + 1 - height()));
    move(x, y);
    show();
}
