#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Finds the cloudflared executable: the fixed candidates in order, then the command-search
// tool. Asked afresh every time, so installing or removing the client takes effect at once.
class CloudflaredLocator {
public:
    static QStringList defaultCandidates();
    static QString defaultSearchTool();

    CloudflaredLocator();
    CloudflaredLocator(QStringList candidates, QString searchTool);

    // The absolute path of an executable cloudflared, or nothing. Runs the search tool
    // synchronously when no candidate qualifies.
    std::optional<QString> find() const;

private:
    QStringList m_candidates;
    QString m_searchTool;
};

// The locator with its default candidates and search tool.
std::optional<QString> findCloudflared();

// How the model asks for the client; tests substitute their own.
using ClientLocator = std::function<std::optional<QString>()>;
