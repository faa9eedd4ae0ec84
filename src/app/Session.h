#pragma once

#include <functional>

class QuillbyApp;

// The running application as the desktop sees it: one instance per user, the platform's
// settings, notifier and login item, quit on SIGTERM/SIGINT/SIGHUP. Needs a QApplication.
// A second launch hands over to the first (which shows its window) and returns 0.
// `started` runs once everything is up, before the event loop.
int runSession(const std::function<void(QuillbyApp&)>& started = {});
