#pragma once

#include "platform/ClientInstallCommand.h"

#include <QStringList>
#include <QSysInfo>

// The install command for a Linux distribution, told by its os-release file (ID, then ID_LIKE):
// the client's own .deb on Debian and its derivatives, its .rpm on Fedora and its relatives, the
// distribution's package on Arch and its derivatives, the download page anywhere else or for a
// processor the client is not built for.
class OsReleaseInstallCommand : public ClientInstallCommand {
public:
    // The first of osReleasePaths that can be read is used; cpuArchitecture is named as
    // QSysInfo::currentCpuArchitecture() names it.
    explicit OsReleaseInstallCommand(
        QStringList osReleasePaths = {QStringLiteral("/etc/os-release"),
                                      QStringLiteral("/usr/lib/os-release")},
        QString cpuArchitecture = QSysInfo::currentCpuArchitecture());

    QString command() const override;

private:
    QStringList m_osReleasePaths;
    QString m_cpuArchitecture;
};
