#include "ui/UrlActions.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QUrl>

namespace UrlActions {

void copy(const QString& url) {
    QApplication::clipboard()->setText(url, QClipboard::Clipboard);
}

void open(const QString& url) {
    // Strict: the URL is the client's, never text to be guessed at.
    QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
}

} // namespace UrlActions
