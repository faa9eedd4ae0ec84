#include "model/AccountFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

QString AccountFiles::loginCertificatePath() {
    return QDir::homePath() + QStringLiteral("/.cloudflared/cert.pem");
}

QString AccountFiles::certificatePath() {
    if (const QString set = qEnvironmentVariable("TUNNEL_ORIGIN_CERT"); !set.isEmpty())
        return set;
    const QString home = QDir::homePath();
    for (const QString& folder :
         {home + QStringLiteral("/.cloudflared"), home + QStringLiteral("/.cloudflare-warp"),
          home + QStringLiteral("/cloudflare-warp"), QStringLiteral("/etc/cloudflared"),
          QStringLiteral("/usr/local/etc/cloudflared")}) {
        if (QFile::exists(folder + QStringLiteral("/cert.pem")))
            return folder + QStringLiteral("/cert.pem");
    }
    return loginCertificatePath();
}

bool AccountFiles::holdsCertificate(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) &&
           file.read(64 * 1024).contains("-----END ARGO TUNNEL TOKEN-----");
}

QString AccountFiles::setCertificateAside() {
    const QString path = loginCertificatePath();
    QString aside = path + QStringLiteral(".old");
    for (int n = 2; QFile::exists(aside); ++n)
        aside = path + QStringLiteral(".old.") + QString::number(n);
    return QFile::rename(path, aside) ? aside : QString();
}

void AccountFiles::putCertificateBack(const QString& aside) {
    // Renaming never replaces a file: a certificate that came in its place stays.
    if (!aside.isEmpty())
        QFile::rename(aside, loginCertificatePath());
}

QString AccountFiles::credentialsPath(const QUuid& tunnel) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                           QStringLiteral("/quillby/tunnels");
    if (QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder + u'/' + tunnel.toString(QUuid::WithoutBraces) + QStringLiteral(".json");
}

QUuid AccountFiles::credentialsTunnelId(const QUuid& tunnel) {
    QFile file(credentialsPath(tunnel));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QUuid::fromString(
        QJsonDocument::fromJson(file.read(64 * 1024))[QLatin1String("TunnelID")].toString());
}

bool AccountFiles::secureCredentials(const QUuid& tunnel) {
    return QFile::setPermissions(credentialsPath(tunnel), QFile::ReadOwner | QFile::WriteOwner);
}

bool AccountFiles::removeCredentials(const QUuid& tunnel) {
    const QString path = credentialsPath(tunnel);
    return QFile::remove(path) || !QFile::exists(path);
}
