#include "model/CloudflaredLocator.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QStringList CloudflaredLocator::defaultCandidates() {
    return {QStringLiteral("/opt/homebrew/bin/cloudflared"),
            QStringLiteral("/usr/local/bin/cloudflared"),
            QDir::homePath() + QStringLiteral("/.local/bin/cloudflared"),
            QStringLiteral("/home/linuxbrew/.linuxbrew/bin/cloudflared")};
}

CloudflaredLocator::CloudflaredLocator()
    : CloudflaredLocator(defaultCandidates()) {}

CloudflaredLocator::CloudflaredLocator(QStringList candidates)
    : m_candidates(std::move(candidates)) {}

std::optional<QString> CloudflaredLocator::find() const {
    for (const QString& candidate : m_candidates) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    // The same answer `which` gives: the first executable file of that name on PATH.
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("cloudflared"));
    if (onPath.isEmpty())
        return std::nullopt;
    return onPath;
}

std::optional<QString> findCloudflared() {
    return CloudflaredLocator().find();
}
