#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <algorithm>
#include <csignal>

namespace TestSupport {

quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

TempHome::TempHome()
    : m_oldHome(qgetenv("HOME"))
    , m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
    , m_oldCache(qgetenv("XDG_CACHE_HOME"))
    , m_oldData(qgetenv("XDG_DATA_HOME")) {
    qputenv("HOME", m_dir.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (m_dir.path() + QStringLiteral("/.cache")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (m_dir.path() + QStringLiteral("/.local/share")).toLocal8Bit());
    QDir().mkpath(configHome());
}

TempHome::~TempHome() {
    for (const auto& [name, value] : {std::pair{"HOME", m_oldHome},
                                      {"XDG_CONFIG_HOME", m_oldConfig},
                                      {"XDG_CACHE_HOME", m_oldCache},
                                      {"XDG_DATA_HOME", m_oldData}})
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
}

std::unique_ptr<QSettings> TempHome::settings(const QString& name) const {
    return std::make_unique<QSettings>(settingsPath(name), QSettings::IniFormat);
}

bool processAlive(qint64 pid) {
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || close + 2 >= text.size() || text.at(close + 2) != 'Z';
}

QString processCommandLine(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray raw = file.readAll();
    if (raw.endsWith('\0'))
        raw.chop(1);
    raw.replace('\0', ' ');
    return QString::fromLocal8Bit(raw);
}

bool notificationDaemonRunning() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications"));
}

QList<ShownNotification> takeNotifications() {
    QList<ShownNotification> result;
    if (!notificationDaemonRunning())
        return result;
    QProcess::execute(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    QProcess history;
    history.start(QStringLiteral("dunstctl"), {QStringLiteral("history")});
    if (!history.waitForFinished(5000))
        return result;
    const QJsonArray entries =
        QJsonDocument::fromJson(history.readAllStandardOutput())["data"][0].toArray();
    // The daemon keeps its history; only notifications newer than the last call count.
    static qint64 lastSeenId = 0;
    qint64 newest = lastSeenId;
    for (const QJsonValue& entry : entries) {
        const QJsonObject object = entry.toObject();
        const qint64 id = object[QLatin1String("id")][QLatin1String("data")].toInteger();
        if (id <= lastSeenId)
            continue;
        newest = std::max(newest, id);
        auto field = [&object](const char* name) {
            return object[QLatin1String(name)][QLatin1String("data")].toString();
        };
        // dunst formats "<b>summary</b>\nbody" and reads the result as markup.
        const QString message = field("message");
        QString shown = message.mid(message.indexOf(QLatin1Char('\n')) + 1);
        shown.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
        const char* entities[] = {"&lt;", "<",      "&gt;", ">",     "&quot;",
                                  "\"",   "&apos;", "'",    "&amp;", "&"};
        for (int i = 0; i < 10; i += 2)
            shown.replace(QLatin1String(entities[i]), QLatin1String(entities[i + 1]));
        result.append({field("summary"), field("body"), shown});
    }
    lastSeenId = newest;
    // The daemon lists the newest first.
    std::reverse(result.begin(), result.end());
    return result;
}

} // namespace TestSupport

namespace TestSupport {

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

AccountApi::AccountApi(const QString& mode) {
    quint16 port = closedPort();
    if (mode != u"offline") {
        m_server.start(QStringLiteral("/usr/bin/python3"), {QUILLBY_ACCOUNT_API, mode});
        while (!m_server.canReadLine() && m_server.waitForReadyRead(10000)) {
        }
        port = quint16(m_server.readLine().mid(5).trimmed().toUInt());
    }
    qputenv("TUNNEL_API_URL", "http://127.0.0.1:" + QByteArray::number(port));
}

AccountApi::~AccountApi() {
    m_server.kill();
    m_server.waitForFinished();
}

int AccountApi::calls(const QByteArray& what) {
    if (m_server.isOpen())
        m_log += m_server.readAllStandardOutput();
    return int(m_log.count(what));
}

} // namespace TestSupport
