#include "model/CloudflaredLocator.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

namespace {

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QStringList CloudflaredLocator::defaultCandidates() {
    return {QStringLiteral("/opt/homebrew/bin/cloudflared"),
            QStringLiteral("/usr/local/bin/cloudflared")};
}

QString CloudflaredLocator::defaultSearchTool() {
    return QStringLiteral("/usr/bin/which");
}

CloudflaredLocator::CloudflaredLocator()
    : CloudflaredLocator(defaultCandidates(), defaultSearchTool()) {}

CloudflaredLocator::CloudflaredLocator(QStringList candidates, QString searchTool)
    : m_candidates(std::move(candidates))
    , m_searchTool(std::move(searchTool)) {}

std::optional<QString> CloudflaredLocator::find() const {
    for (const QString& candidate : m_candidates) {
        if (isExecutableFile(candidate))
            return candidate;
    }

    // The search tool follows our own PATH. Its standard error is discarded, never read.
    QProcess search;
    search.setProgram(m_searchTool);
    search.setArguments({QStringLiteral("cloudflared")});
    search.setStandardErrorFile(QProcess::nullDevice());
    search.start();
    if (!search.waitForStarted(-1) || !search.waitForFinished(-1))
        return std::nullopt;
    if (search.exitStatus() != QProcess::NormalExit || search.exitCode() != 0)
        return std::nullopt;

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString output = utf8(search.readAllStandardOutput());
    if (utf8.hasError())
        return std::nullopt;
    // The whole output is one path: several lines keep their line break and fail below.
    const QString path = output.trimmed();
    if (path.isEmpty() || !isExecutableFile(path))
        return std::nullopt;
    return path;
}

std::optional<QString> findCloudflared() {
    return CloudflaredLocator().find();
}
