#include "platform/XdgAutostartLoginItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

std::unique_ptr<LoginItem> createPlatformLoginItem() {
    return std::make_unique<XdgAutostartLoginItem>(
        QStringList{QCoreApplication::applicationFilePath()});
}

XdgAutostartLoginItem::XdgAutostartLoginItem(QStringList command)
    : m_command(std::move(command)) {}

QString XdgAutostartLoginItem::entryPath() {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/app.quillby.Quillby.desktop");
}

QString XdgAutostartLoginItem::quoteExecArgument(const QString& argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    static const QString escapedInQuotes = QStringLiteral("\"`$\\");
    QString field = argument;
    // A literal percent sign would otherwise start a field code.
    field.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool needsQuotes =
        field.isEmpty() ||
        std::any_of(field.begin(), field.end(), [](QChar c) { return reserved.contains(c); });
    if (!needsQuotes)
        return field;
    QString quoted = QStringLiteral("\"");
    for (QChar c : field) {
        if (escapedInQuotes.contains(c))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

QString XdgAutostartLoginItem::escapeValue(const QString& value) {
    QString escaped;
    for (QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            escaped += QStringLiteral("\\\\");
            break;
        case '\n':
            escaped += QStringLiteral("\\n");
            break;
        case '\t':
            escaped += QStringLiteral("\\t");
            break;
        case '\r':
            escaped += QStringLiteral("\\r");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QByteArray XdgAutostartLoginItem::entryText() const {
    QStringList exec;
    for (const QString& argument : m_command)
        exec << quoteExecArgument(argument);
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Quillby\n");
    text += QStringLiteral("Comment=Public HTTPS URLs for local ports, from the tray\n");
    text += QStringLiteral("Exec=") + escapeValue(exec.join(QLatin1Char(' '))) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool XdgAutostartLoginItem::isEnabled() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inMainGroup = false;
    bool enabled = true;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Hidden") && value == QLatin1String("true"))
            enabled = false;
        if (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false"))
            enabled = false;
    }
    return enabled;
}

bool XdgAutostartLoginItem::setEnabled(bool enabled) {
    const QString path = entryPath();
    if (!enabled)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    // Written beside the target and renamed over it, so a reader never sees half an entry.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = entryText();
    if (file.write(text) != text.size())
        return false;
    return file.commit();
}
