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

static const char* const homeVariables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                            "XDG_DATA_HOME"};

TempHome::TempHome() {
    const QString homes[] = {path(), configHome(), path() + QStringLiteral("/.cache"),
                             path() + QStringLiteral("/.local/share")};
    for (int i = 0; i < 4; ++i) {
        m_old[i] = qgetenv(homeVariables[i]);
        qputenv(homeVariables[i], homes[i].toLocal8Bit());
    }
    QDir().mkpath(configHome());
}

TempHome::~TempHome() {
    for (int i = 0; i < 4; ++i)
        m_old[i].isNull() ? qunsetenv(homeVariables[i]) : qputenv(homeVariables[i], m_old[i]);
}

std::unique_ptr<QSettings> TempHome::settings() const {
    return std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
}

// A process's fields in /proc/PID/stat after its name: state, parent, ...; none when it is gone.
static QList<QByteArray> statFields(qint64 pid) {
    const QByteArray text = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    return text.isEmpty() ? QList<QByteArray>() : text.mid(text.lastIndexOf(')') + 2).split(' ');
}

bool processAlive(qint64 pid) {
    const QByteArray state = pid > 0 && ::kill(pid_t(pid), 0) == 0 ? statFields(pid).value(0) : "";
    return !state.isEmpty() && state != "Z";
}

QList<qint64> childrenOf(qint64 parent) {
    QList<qint64> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QList<QByteArray> fields = statFields(entry.toLongLong());
        if (fields.value(0) != "Z" && fields.value(1).toLongLong() == parent)
            children.append(entry.toLongLong());
    }
    return children;
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
    history.waitForFinished(5000); // a history cut short reads as none
    // The daemon keeps its history, newest first; only notifications newer than the last call
    // count.
    static qint64 lastSeenId = 0;
    const qint64 seenBefore = lastSeenId;
    for (const QJsonValue entry :
         QJsonDocument::fromJson(history.readAllStandardOutput())["data"][0].toArray()) {
        const auto field = [&entry](const char* name) {
            return entry[QLatin1String(name)][QLatin1String("data")];
        };
        if (const qint64 id = field("id").toInteger(); id > seenBefore) {
            lastSeenId = std::max(lastSeenId, id);
            result.prepend({field("summary").toString(), field("body").toString()});
        }
    }
    return result;
}

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
