#include "model/AccountSignIn.h"

#include "model/AccountFiles.h"
#include "model/NamedTunnelCommand.h"
#include "platform/ChildLifetime.h"

#include <QProcess>
#include <QRegularExpression>

AccountSignIn::AccountSignIn(ClientLocator findClient, QObject* parent)
    : QObject(parent)
    , m_findClient(findClient ? std::move(findClient) : ClientLocator(findCloudflared)) {
    // The client writes the certificate whole, then says so and ends; watching the file also
    // covers a client that lingers after writing.
    m_watch.setInterval(200);
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (AccountFiles::holdsCertificate(AccountFiles::loginCertificatePath()))
            finish(AccountOutcome::of(AccountOutcome::Kind::Done));
    });
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { finish(AccountOutcome::of(AccountOutcome::Kind::TimedOut)); });
}

AccountSignIn::~AccountSignIn() {
    cancel();
}

void AccountSignIn::start(std::chrono::milliseconds timeout, bool replace) {
    cancel();
    const std::optional<QString> client = m_findClient();
    if ((AccountFiles::signedIn() && !replace) || !client) {
        const auto kind = client ? AccountOutcome::Kind::Done : AccountOutcome::Kind::ClientMissing;
        QTimer::singleShot(0, this, [this, kind] { emit finished(AccountOutcome::of(kind)); });
        return;
    }
    m_output.clear();
    m_urlSeen = false;
    if (replace)
        m_setAside = AccountFiles::setCertificateAside();
    m_child = new QProcess(this);
    m_child->setProcessChannelMode(QProcess::MergedChannels);
    bindChildLifetimeToParent(*m_child);
    connect(m_child, &QProcess::readyRead, this, &AccountSignIn::readOutput);
    connect(m_child, &QProcess::finished, this, [this] {
        readOutput();
        if (AccountFiles::holdsCertificate(AccountFiles::loginCertificatePath()))
            return finish(AccountOutcome::of(AccountOutcome::Kind::Done));
        // The first error line is the reason ("You have an existing certificate at ... which
        // login would overwrite."); the last one when none is marked.
        static const QRegularExpression error(QStringLiteral("(?:^|\\n)\\S+ ERR ([^\\n]+)"));
        const QRegularExpressionMatch match = error.match(m_output);
        const QStringList lines = m_output.trimmed().split(u'\n');
        finish(AccountOutcome::of(AccountOutcome::Kind::Failed,
                                  match.hasMatch() ? match.captured(1) : lines.last()));
    });
    connect(m_child, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(AccountOutcome::of(AccountOutcome::Kind::Failed, m_child->errorString()));
    });
    m_watch.start();
    m_deadline.start(timeout);
    m_child->start(*client, NamedTunnelCommand::login());
}

void AccountSignIn::cancel() {
    m_watch.stop();
    m_deadline.stop();
    NamedTunnelCommand::abandon(std::exchange(m_child, nullptr), this);
    AccountFiles::putCertificateBack(std::exchange(m_setAside, {}));
}

void AccountSignIn::readOutput() {
    m_output += QString::fromUtf8(m_child->readAll());
    static const QRegularExpression url(QStringLiteral("(?:^|\\n)(https://\\S+)\\n"));
    if (const QRegularExpressionMatch match = url.match(m_output); !m_urlSeen && match.hasMatch())
        m_urlSeen = true, emit urlReady(match.captured(1));
}

void AccountSignIn::finish(const AccountOutcome& outcome) {
    cancel();
    emit finished(outcome);
}
