#include "model/ClientVersion.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QVersionNumber>

namespace {

// A client that does not answer at once is not waited for any longer than this.
constexpr int readLimitMs = 10000;
// More than any version banner.
constexpr qint64 readBytes = 4096;

QStringList versionArguments() {
    return {QStringLiteral("--version")};
}

} // namespace

ClientVersion::ClientVersion(ClientLocator findClient, QObject* parent)
    : QObject(parent)
    , m_findClient(findClient ? std::move(findClient) : ClientLocator(findCloudflared)) {}

ClientVersion::~ClientVersion() {
    if (m_reading) {
        m_reading->disconnect(this);
        m_reading->kill();
        m_reading->waitForFinished(1000);
    }
}

void ClientVersion::refresh() {
    const QString path = m_findClient().value_or(QString());
    const QDateTime modified = path.isEmpty() ? QDateTime() : QFileInfo(path).lastModified();
    if (path == m_path && modified == m_modified)
        return; // known, or being read
    m_path = path;
    m_modified = modified;
    m_version.clear();
    if (m_reading) {
        m_reading->disconnect(this);
        m_reading->kill();
        m_reading->deleteLater();
        m_reading = nullptr;
    }
    emit changed();
    if (path.isEmpty())
        return;

    auto* process = new QProcess(this);
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, [this, process] {
        m_reading = nullptr;
        process->deleteLater();
        m_version = parse(process->read(readBytes));
        emit changed();
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return; // finished() follows
        m_reading = nullptr;
        process->deleteLater();
    });
    QTimer::singleShot(readLimitMs, process, &QProcess::kill);
    m_reading = process;
    process->start(path, versionArguments());
}

QString ClientVersion::versionOf(const QString& path) {
    refresh();
    return path == m_path ? m_version : QString();
}

QString ClientVersion::parse(QByteArrayView output) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(^cloudflared version (\d+\.\d+\.\d+)\b)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(output));
    return match.hasMatch() ? match.captured(1) : QString();
}

bool ClientVersion::isTooOld(const QString& version) {
    if (version.isEmpty())
        return false;
    return QVersionNumber::fromString(version) <
           QVersionNumber::fromString(QLatin1StringView(oldestSupported));
}

QString ClientVersion::readNow(const QString& path) {
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(path, versionArguments());
    if (!process.waitForFinished(readLimitMs)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return parse(process.read(readBytes));
}
