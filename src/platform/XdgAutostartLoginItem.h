#pragma once

#include "platform/LoginItem.h"

#include <QString>
#include <QStringList>

// Login item on freedesktop desktops: an autostart entry, app.quillby.Quillby.desktop, in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart by default). The registration is whatever
// that file says when asked: absent, Hidden=true or X-GNOME-Autostart-enabled=false mean off.
class XdgAutostartLoginItem : public LoginItem {
public:
    // command: the program and its arguments, as the entry's Exec line starts them.
    explicit XdgAutostartLoginItem(QStringList command);

    bool isEnabled() const override;
    bool setEnabled(bool enabled) override;

    // Where the entry lives now (follows XDG_CONFIG_HOME and HOME).
    static QString entryPath();
    // The whole entry, as written.
    QByteArray entryText() const;

    // One argument as the Exec key wants it: quoted when it holds a reserved character,
    // with the characters that stay special inside quotes escaped.
    static QString quoteExecArgument(const QString& argument);
    // A string value with the escapes of the entry format (backslash, line breaks, tab).
    static QString escapeValue(const QString& value);

private:
    QStringList m_command;
};
