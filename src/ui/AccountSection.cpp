#include "ui/AccountSection.h"

#include "model/Account.h"
#include "ui/BusySpinner.h"
#include "ui/ElidedLabel.h"
#include "ui/PaletteTint.h"
#include "ui/Theme.h"
#include "ui/UrlActions.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* lineButton(const QString& objectName, const QString& text, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setToolTip(text);
    button->setAccessibleName(text);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QHBoxLayout* line(QWidget* widget) {
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    return layout;
}

} // namespace

AccountSection::AccountSection(Account* account, QWidget* parent)
    : QWidget(parent)
    , m_account(account) {
    setObjectName(QStringLiteral("accountSection"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(4);

    m_signInButton = new QToolButton(this);
    m_signInButton->setObjectName(QStringLiteral("signInButton"));
    m_signInButton->setToolTip(
        tr("Once signed in, a tunnel can have an address on your own domain that stays"));
    m_signInButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_signInButton->setAutoRaise(true);
    m_signInButton->setCursor(Qt::PointingHandCursor);
    m_signedIn = new QLabel(tr("Signed in to use your domain"), this);
    m_signedIn->setObjectName(QStringLiteral("signedInLabel"));

    // While the client waits for the browser.
    m_waitLine = new QWidget(this);
    m_waitLine->setObjectName(QStringLiteral("signInWaitLine"));
    auto* wait = line(m_waitLine);
    m_spinner = new BusySpinner(12, m_waitLine);
    auto* waitLabel = new QLabel(tr("Waiting for you to sign in in the browser..."), m_waitLine);
    waitLabel->setWordWrap(true);
    wait->addWidget(m_spinner, 0, Qt::AlignTop);
    wait->addWidget(waitLabel, 1);
    m_urlLine = new QWidget(this);
    m_urlLine->setObjectName(QStringLiteral("signInUrlLine"));
    auto* url = line(m_urlLine);
    m_urlLabel = new ElidedLabel(m_urlLine);
    m_urlLabel->setObjectName(QStringLiteral("signInUrlLabel"));
    m_openButton = lineButton(QStringLiteral("signInOpenButton"), tr("Open in Browser"), m_urlLine);
    m_copyButton = lineButton(QStringLiteral("signInCopyButton"), tr("Copy URL"), m_urlLine);
    url->addWidget(m_urlLabel, 1);
    url->addWidget(m_openButton);
    url->addWidget(m_copyButton);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("signInMessage"));
    m_message->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);

    const QList<QWidget*> lines{m_signInButton, m_signedIn, m_waitLine, m_urlLine, m_message};
    for (QWidget* widget : lines) {
        widget->setFont(Theme::callout());
        root->addWidget(widget);
        // In line with the button's text rather than its frame.
        if (widget != m_signInButton)
            widget->setContentsMargins(4, 0, 0, 0);
    }
    waitLabel->setFont(Theme::callout());
    m_urlLabel->setFont(Theme::callout());
    const int side = QFontMetrics(Theme::callout()).height() - 2;
    for (QToolButton* button : {m_signInButton, m_openButton, m_copyButton})
        button->setIconSize({side, side});
    PaletteTint::icon(m_signInButton, QStringLiteral("network"), Theme::Tone::Blue);
    PaletteTint::icon(m_openButton, QStringLiteral("arrow.up.right.square"),
                      Theme::Tone::Secondary);
    PaletteTint::icon(m_copyButton, QStringLiteral("doc.on.doc"), Theme::Tone::Secondary);
    PaletteTint::text(m_signedIn, Theme::Tone::Green);
    PaletteTint::text(waitLabel, Theme::Tone::Secondary);
    PaletteTint::text(m_urlLabel, Theme::Tone::Secondary);
    PaletteTint::text(m_message, Theme::Tone::Red);

    connect(m_signInButton, &QToolButton::clicked, this, [this] {
        m_message->hide();
        m_urlLabel->setFullText({});
        m_account->signIn();
    });
    connect(m_openButton, &QToolButton::clicked, this,
            [this] { UrlActions::open(m_urlLabel->fullText()); });
    connect(m_copyButton, &QToolButton::clicked, this,
            [this] { UrlActions::copy(m_urlLabel->fullText()); });
    connect(m_account, &Account::changed, this, &AccountSection::refresh);
    connect(m_account, &Account::signInUrl, this, [this](const QString& page) {
        m_urlLabel->setFullText(page);
        refresh();
    });
    connect(m_account, &Account::signInFinished, this, &AccountSection::finished);
    m_message->hide();
    refresh();
}

void AccountSection::refresh() {
    const bool signingIn = m_account->isSigningIn();
    // A refused certificate is as good as none: signing in again replaces it.
    const bool refused = m_account->refused();
    const bool signedIn = !signingIn && m_account->signedIn() && !refused;
    m_signInButton->setText(refused ? tr("Sign In Again...") : tr("Sign In to Use Your Domain..."));
    m_signInButton->setVisible(!signedIn);
    m_signInButton->setEnabled(!signingIn);
    m_signedIn->setVisible(signedIn);
    m_waitLine->setVisible(signingIn);
    m_urlLine->setVisible(signingIn && !m_urlLabel->fullText().isEmpty());
}

void AccountSection::finished(const AccountOutcome& outcome) {
    m_urlLabel->setFullText({});
    m_message->setText(outcome.text());
    m_message->setVisible(!outcome.text().isEmpty());
    refresh();
}

void AccountSection::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A certificate may have come or gone while the window was hidden.
    refresh();
}
