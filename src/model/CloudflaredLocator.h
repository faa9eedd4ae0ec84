#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Finds the cloudflared executable: the fixed candidates in order, then our PATH. Asked afresh
// every time, so installing or removing the client takes effect at once.
class CloudflaredLocator {
public:
    // Homebrew's and the system's own places, then where Linux users put the client and a login
    // session's short PATH misses it: ~/.local/bin and Homebrew on Linux.
    static QStringList defaultCandidates();

    CloudflaredLocator();
    explicit CloudflaredLocator(QStringList candidates);

    // The absolute path of an executable cloudflared, or nothing. The PATH is searched in
    // process, so no child is started on the calling (GUI) thread.
    std::optional<QString> find() const;

private:
    QStringList m_candidates;
};

// The locator with its default candidates.
std::optional<QString> findCloudflared();

// How the model asks for the client; tests substitute their own.
using ClientLocator = std::function<std::optional<QString>()>;
