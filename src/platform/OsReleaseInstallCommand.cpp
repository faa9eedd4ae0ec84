#include "platform/OsReleaseInstallCommand.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace {

// KEY=value lines; values may be quoted, with shell-style backslash escapes inside double quotes.
QHash<QString, QString> readOsRelease(const QStringList& paths) {
    QHash<QString, QString> fields;
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            const qsizetype equals = line.indexOf(u'=');
            if (line.startsWith(u'#') || equals <= 0)
                continue;
            QString value = line.mid(equals + 1);
            const QChar quote = value.isEmpty() ? QChar() : value.front();
            if ((quote == u'"' || quote == u'\'') && value.size() >= 2 && value.back() == quote) {
                value = value.mid(1, value.size() - 2);
                if (quote == u'"') {
                    static const QRegularExpression escaped(QStringLiteral(R"(\\([\\"$`]))"));
                    value.replace(escaped, QStringLiteral("\\1"));
                }
            }
            fields.insert(line.left(equals), value);
        }
        break;
    }
    return fields;
}

enum class Family { Unknown, Debian, Fedora, Arch };

Family familyOf(const QHash<QString, QString>& osRelease) {
    // ID names the system itself; ID_LIKE its relatives, closest first.
    const QStringList names =
        QStringList{osRelease.value(QStringLiteral("ID"))} +
        osRelease.value(QStringLiteral("ID_LIKE")).split(u' ', Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (name == u"debian" || name == u"ubuntu")
            return Family::Debian;
        if (name == u"fedora" || name == u"rhel" || name == u"centos")
            return Family::Fedora;
        if (name == u"arch")
            return Family::Arch;
    }
    return Family::Unknown;
}

// The client's packages are attached to each release; "latest/download" always names the newest.
QString fromRelease(const QString& file, const QString& installer) {
    return QStringLiteral("curl -LO https://github.com/cloudflare/cloudflared/releases/latest/"
                          "download/%1 && sudo %2 %1")
        .arg(file, installer);
}

} // namespace

OsReleaseInstallCommand::OsReleaseInstallCommand(QStringList osReleasePaths,
                                                 QString cpuArchitecture)
    : m_osReleasePaths(std::move(osReleasePaths))
    , m_cpuArchitecture(std::move(cpuArchitecture)) {}

QString OsReleaseInstallCommand::command() const {
    // The client's package names for each processor, as its releases spell them.
    struct Arch {
        const char* qt;
        const char* deb;
        const char* rpm;
    };
    static constexpr Arch arches[] = {{"x86_64", "amd64", "x86_64"},
                                      {"arm64", "arm64", "aarch64"},
                                      {"arm", "armhf", "armhf"},
                                      {"i386", "386", "386"}};
    const Arch* arch = nullptr;
    for (const Arch& candidate : arches) {
        if (m_cpuArchitecture == QLatin1String(candidate.qt)) {
            arch = &candidate;
            break;
        }
    }

    switch (familyOf(readOsRelease(m_osReleasePaths))) {
    case Family::Debian:
        if (arch)
            return fromRelease(QStringLiteral("cloudflared-linux-%1.deb").arg(arch->deb),
                               QStringLiteral("dpkg -i"));
        break;
    case Family::Fedora:
        if (arch)
            return fromRelease(QStringLiteral("cloudflared-linux-%1.rpm").arg(arch->rpm),
                               QStringLiteral("rpm -i"));
        break;
    case Family::Arch:
        return QStringLiteral("sudo pacman -S cloudflared");
    case Family::Unknown:
        break;
    }
    return clientDownloadPage();
}

std::unique_ptr<ClientInstallCommand> createPlatformInstallCommand() {
    return std::make_unique<OsReleaseInstallCommand>();
}
