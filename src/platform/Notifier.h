#pragma once

#include <QString>
#include <memory>

// Posts desktop notifications. Each call shows a fresh notification, never replacing another.
// Titles and bodies are plain text. Failures are not reported: a missing notification
// service must never stop the application.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& title, const QString& body) = 0;
};

// The implementation for this operating system.
std::unique_ptr<Notifier> createPlatformNotifier();
