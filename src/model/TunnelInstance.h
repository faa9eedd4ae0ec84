#pragma once

#include "model/ClientLogClassifier.h"
#include "model/CloudflaredLocator.h"
#include "model/OriginProbe.h"
#include "model/TunnelConfig.h"
#include "model/TunnelRequestCapture.h"
#include "platform/Notifier.h"

#include <QObject>
#include <QProcess>
#include <QTimer>
#include <functional>
#include <optional>

class ChildErrorReader;
class Notifier;

// What an instance needs from its surroundings.
struct TunnelServices {
    ClientLocator findClient;     // defaults to findCloudflared
    Notifier* notifier = nullptr; // not owned; nullptr posts nothing
    // An outage of every connection is notified once it has lasted this long.
    int outageNoticeMs = 30000;
    // What the Active notification offers to do with the URL; unset: not offered.
    std::function<void(const QString& url)> copyURL = nullptr;
    std::function<void(const QString& url)> openURL = nullptr;
};

// The live side of one tunnel: runs at most one cloudflared child, reads its standard error
// for the public URL, its connections and its problems, publishes isRunning / isConnecting /
// isReconnecting / tunnelURL / problem / config and posts the active, outage, start-failure
// and crash notifications. Lives on the GUI thread.
//
// The URL is published as soon as it is seen; the tunnel stays connecting until the client
// registers its first connection, since only then can the URL carry traffic. Once a stop has
// been asked for, the child's output is ignored and its exit posts nothing.
//
// Every change of a published field is announced after the field changed, by its own
// signal and then by changed().
class TunnelInstance : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isConnecting READ isConnecting NOTIFY isConnectingChanged)
    Q_PROPERTY(bool isReconnecting READ isReconnecting NOTIFY isReconnectingChanged)
    Q_PROPERTY(QString problem READ problem NOTIFY problemChanged)
    Q_PROPERTY(QString tunnelURL READ tunnelURLText NOTIFY tunnelURLChanged)
    Q_PROPERTY(TunnelConfig config READ config WRITE setConfig NOTIFY configChanged)

public:
    // A running child that ignores the terminate signal is killed after this long.
    static constexpr int killGraceMs = 5000;
    // A port change restarts the child no sooner than this after the stop.
    static constexpr int restartDelayMs = 1000;

    using Services = TunnelServices;

    explicit TunnelInstance(TunnelConfig config, Services services = {}, QObject* parent = nullptr);
    ~TunnelInstance() override;

    QUuid id() const { return m_config.id; }
    bool isRunning() const { return m_isRunning; }
    bool isConnecting() const { return m_isConnecting; }
    // Every connection to the tunnel network was lost; the client is trying again.
    bool isReconnecting() const { return m_isReconnecting; }
    // What stands in the tunnel's way, in plain words; empty when nothing does.
    QString problem() const { return m_problem; }
    // The client's own line behind the problem.
    QString problemDetail() const { return m_problemDetail; }
    const std::optional<QString>& tunnelURL() const { return m_tunnelURL; }
    QString tunnelURLText() const { return m_tunnelURL.value_or(QString()); }
    const TunnelConfig& config() const { return m_config; }
    // A port change has stopped the child and a new one is still to start.
    bool isRestarting() const { return m_restartTimer.isActive() || m_restartAfterExit; }

    // Edits name and port in place; the id never changes. Does not restart a running child.
    void setConfig(const TunnelConfig& config);
    void setName(const QString& name);

    void start();
    void stop();
    void updatePort(qint64 port);
    // Looks again where the local server listens, for the problem line; a running child keeps
    // its origin. For when the window is shown; never on a timer.
    void checkOrigin();
    // Turns the request inspector on or off; a running child restarts to forward through it.
    void setInspect(bool on);
    TunnelRequestCapture* inspector() const { return m_inspector; }

    // True while a child process exists, including one that is still stopping.
    bool hasChild() const;
    qint64 childPid() const;

    // Leaves the list for good: stops the child, posts nothing more, deletes itself once no
    // child is left.
    void retire();

signals:
    void isRunningChanged();
    void isConnectingChanged();
    void isReconnectingChanged();
    void problemChanged();
    void tunnelURLChanged();
    void configChanged();
    void changed();
    // The child's exit has been handled (or it never started); no child is left.
    void childGone();

private:
    void restart();
    void handleOutput(QByteArrayView chunk);
    void applyLog(const std::optional<QString>& url);
    void applyOrigin(const OriginAddress& found, bool mayClear);
    void handleExit(int exitCode, QProcess::ExitStatus status);
    void cleanup();
    void sendNotification(const QString& title, const QString& body,
                          const QList<NotificationAction>& actions = {});
    QList<NotificationAction> urlActions(const QString& url) const;
    void terminateChild();

    void setRunning(bool value);
    void setConnecting(bool value);
    void setReconnecting(bool value);
    void setTunnelURL(std::optional<QString> url);
    // Where the current problem came from: the client's lines, our look at the origin, or us.
    enum class Source { Own, Log, Origin };
    void setProblem(const QString& text, const QString& detail, Source source = Source::Own);

    TunnelConfig m_config;
    Services m_services;
    bool m_isRunning = false;
    bool m_isConnecting = false;
    bool m_isReconnecting = false;
    QString m_problem;
    QString m_problemDetail;
    std::optional<QString> m_tunnelURL;

    TunnelRequestCapture* m_inspector;
    QProcess* m_process = nullptr;
    ChildErrorReader* m_reader = nullptr;
    ClientLogClassifier m_classifier;
    ClientLogClassifier::Problem m_logProblem; // the classifier's problem last applied
    Source m_problemSource = Source::Own;
    OriginAddress m_origin;        // where the current child forwards to
    bool m_stopRequested = false;  // the child's output and exit no longer count
    bool m_connected = false;      // at least one connection registered
    bool m_activeNotified = false; // once per launch
    QTimer m_killTimer;
    QTimer m_restartTimer;
    QTimer m_outageTimer;
    bool m_killedByUs = false;
    bool m_restartAfterExit = false;
    bool m_retired = false;
};
