#include "ui/DetailText.h"

#include "ui/Theme.h"

DetailText::DetailText(const QString& objectName, const QString& accessibleName, QWidget* parent)
    : QPlainTextEdit(parent) {
    setObjectName(objectName);
    setAccessibleName(accessibleName);
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(Theme::monospaced(Theme::callout()));
    // Read-only text still takes Tab for itself.
    setTabChangesFocus(true);
}
