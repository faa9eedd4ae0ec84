#pragma once

#include <QString>

// What can be done with a tunnel's public URL from anywhere in the window or a notification.
namespace UrlActions {

// Puts the URL on the clipboard as plain text, replacing what was there.
void copy(const QString& url);
// Opens the URL in the user's browser (through xdg-open on Linux).
void open(const QString& url);

} // namespace UrlActions
