#pragma once

#include <QPlainTextEdit>

// Read-only text in the requests window: a request, an answer or a message, monospaced and
// unwrapped, that leaves Tab to move the focus on.
class DetailText : public QPlainTextEdit {
    Q_OBJECT

public:
    DetailText(const QString& objectName, const QString& accessibleName, QWidget* parent);
};
