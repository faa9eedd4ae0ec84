#pragma once

#include "model/AccountOutcome.h"
#include "model/ClientLogClassifier.h"
#include "model/ClientMetrics.h"
#include "model/ClientProcess.h"
#include "model/CloudflaredLocator.h"
#include "model/ProblemBoard.h"
#include "model/TunnelConfig.h"
#include "model/TunnelGateway.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class BasicAuthGuard;
class ClientVersion;
class NamedTunnelSetup;

// What an instance needs from its surroundings.
struct TunnelServices {
    ClientLocator findClient; // defaults to findCloudflared
    // An outage of every connection is reported once it has lasted this long.
    int outageNoticeMs = 30000;
    // Which version the found client is (not owned); nullptr: not asked.
    ClientVersion* clientVersion = nullptr;
    // Makes the process of one run of the client; defaults to a QProcessClient.
    std::function<std::unique_ptr<ClientProcess>(QObject* parent)> newClient = {};
    // The loopback network every tunnel asks its client's metrics server over, made on first
    // use by whoever owns the tunnels; empty: each tunnel makes its own.
    std::function<QNetworkAccessManager*()> network = {};
    ClientMetricsTiming metricsTiming = {};
};

// The live side of one tunnel: runs at most one client process at a time, reads its standard
// error for the public URL and its connections, keeps the gateway's options in step with the
// switches, and publishes state / tunnelURL / problem / config. What stands in the way is the
// ProblemBoard's. What happens to the tunnel that a person should hear about is announced
// through the signals below, with its facts; the application decides what to post. Lives on
// the GUI thread.
//
// The URL is published as soon as it is seen; the tunnel stays connecting until the client
// registers its first connection, since only then can the URL carry traffic. Two witnesses
// tell the connections and the URL: the client's log lines and its metrics server
// (ClientMetrics), whichever spoke last about the connections, since a client release may
// reword or drop a line; the URL from the log, else from the metrics server. Once a stop has
// been asked for, the child's output is ignored and its exit is not reported as an end.
//
// Every change of a published field is announced by changed(), after the field changed.
class TunnelInstance : public QObject {
    Q_OBJECT

public:
    enum class State {
        Stopped,      // no child
        Connecting,   // launched; no connection registered (or no URL seen) yet
        Active,       // the URL carries traffic
        Reconnecting, // every connection was lost after one had registered; the client retries
        Stopping,     // asked to stop; the child has not exited yet
    };

    // A running child that ignores the terminate signal is killed after this long.
    static constexpr int killGraceMs = ClientProcess::killGraceMs;

    using Services = TunnelServices;

    explicit TunnelInstance(TunnelConfig config, Services services = {}, QObject* parent = nullptr);
    ~TunnelInstance() override;

    QUuid id() const { return m_config.id; }
    State state() const { return m_state; }
    // A child has been launched and its exit not yet handled (every state but Stopped).
    bool isRunning() const { return m_state != State::Stopped; }
    // What stands in the tunnel's way, in plain words; empty when nothing does.
    QString problem() const { return m_board.text(); }
    // The client's own line behind the problem.
    QString problemDetail() const { return m_board.detail(); }
    const std::optional<QString>& tunnelURL() const { return m_tunnelURL; }
    QString tunnelURLText() const { return m_tunnelURL.value_or(QString()); }
    const TunnelConfig& config() const { return m_config; }
    // Connections to the tunnel network, as the client's metrics server last counted them;
    // nullopt when it did not say (stopped, or a client that serves no metrics).
    std::optional<int> connections() const;
    // The running child's metrics server; nullptr before the first launch.
    const ClientMetrics* metrics() const { return m_metrics; }

    void setName(const QString& name);

    // The tunnel on the user's own domain: its hostname (dev.example.com), empty for a quick
    // tunnel. Saved with the tunnel; a running tunnel starts over on the new address.
    void setHostname(const QString& host);
    QString publicHostname() const { return m_config.hostname; }
    // The step of setting the named tunnel up, in plain words, while the first start works
    // ("Creating the tunnel…"); empty otherwise.
    QString stepText() const { return m_stepText; }
    // What the problem line offers to do about the problem shown.
    enum class ProblemAction { None, SignIn, TakeOver, CreateAgain };
    ProblemAction problemAction() const;
    // Points the hostname at this tunnel even though another record holds it, then runs.
    void takeOver();
    // The credentials are gone: a new named tunnel with new credentials, then runs.
    void createAgain();

    void start();
    void stop();
    // Applied at once: a running child keeps forwarding to the gateway, which turns to the new
    // port; the URL stays.
    void updatePort(qint64 port);
    // Looks again where the local server listens, for the problem line; a running child keeps
    // its origin. For when the window is shown; never on a timer.
    void checkOrigin();
    // The gateway's switches, applied at once; a running child and its URL stay.
    // Capturing requests for the inspector.
    void setInspect(bool on);
    // The local server sees requests as opened at http://localhost:PORT.
    void setRewriteHost(bool on);
    // The gateway in front of the local server, with the inspector's log and the counts.
    TunnelGateway* gateway() const { return m_gateway; }

    // Turns the password on or off, saved with the tunnel. Takes effect at once: a running
    // child keeps its URL; turned on while running, a password is drawn now.
    void setRequirePassword(bool on);
    // The current password while running with the switch on; empty otherwise. Drawn anew at
    // every start, kept in memory only.
    QString password() const { return m_password; }
    // What the gateway asks per request (from its own thread); kept in step with the switch,
    // the password and the name (its realm).
    std::shared_ptr<BasicAuthGuard> accessGuard() const { return m_guard; }

    // Stops the running tunnel this long from now, as if Stop was pressed; nullopt: until
    // stopped. Not saved; ignored while stopped. Stop, start and the child's own end clear it;
    // a live change of port or switches keeps it.
    void setStopAfter(std::optional<std::chrono::seconds> limit);
    // The limit as last set, and when it ends (UTC; null without a limit).
    std::optional<std::chrono::seconds> stopAfter() const { return m_stopAfter; }
    QDateTime stopsAt() const { return m_stopsAt; }

    // True while a child process exists, including one that is still stopping.
    bool hasChild() const;
    qint64 childPid() const;

    // Leaves the list for good: stops the child, posts nothing more, deletes itself once no
    // child is left.
    void retire();

signals:
    void changed();
    // Name, port or a saved switch changed: the list is to be saved.
    void configChanged();
    // The child's exit has been handled (or it never started); no child is left.
    void childGone();
    // How setting the named tunnel up ended, for the account (a refused certificate).
    void accountAnswered(const AccountOutcome& outcome);

    // Events worth telling a person, once each; none after retire().
    // The tunnel can carry traffic at url, for the first time since this launch.
    void becameActive(const QString& url);
    // Every connection has been lost for outageNoticeMs; the client keeps trying.
    void outageContinues();
    // The client could not be launched.
    void failedToStart(const QString& reason);
    // The child ended on its own with a failure status; reason in plain words, or empty.
    void endedUnexpectedly(int exitStatus, const QString& reason);
    // The time limit set with setStopAfter ran out and the tunnel was stopped.
    void stoppedAtLimit(std::chrono::seconds sharedFor);

private:
    void launch();
    // The named tunnel's part of a start, kept together.
    void setUpNamed(bool takeOver, bool recreate);
    void namedSetUp(const AccountOutcome& outcome);
    QStringList clientArguments(const QString& gatewayURL) const;
    void launchChild();
    void restartIfAsked();
    void clearStopAfter();
    void stopAtLimit();
    // A new password (or none) for the child launched now or stopped now.
    void setPassword(QString password);
    void updateGateway();
    void handleOutput(QByteArrayView chunk);
    void applyLog(const std::optional<QString>& url);
    void handleExit(int status);
    // The metrics witness: made at the first launch, asked as the log suggests a change.
    QStringList metricsArguments();
    void askMetrics(int logConnections, bool urlSeen);
    void applyMetrics();
    bool relaunchOnAnotherPort(int status);
    void launchClient(const QString& program, const QString& gatewayURL);
    void cleanup();
    void terminateChild();
    void setConfig(const TunnelConfig& config);

    // Works the state out again from the facts below, announcing a change.
    void updateState();
    void setTunnelURL(std::optional<QString> url);

    TunnelConfig m_config;
    Services m_services;
    State m_state = State::Stopped;
    std::optional<QString> m_tunnelURL;

    TunnelGateway* m_gateway;
    std::unique_ptr<ClientProcess> m_client;
    ClientLogClassifier m_classifier;
    ProblemBoard m_board{m_config, m_classifier};
    bool m_launched = false;        // a child was launched and its exit not yet handled
    bool m_stopRequested = false;   // the child's output and exit no longer count
    bool m_connected = false;       // at least one connection is registered now
    bool m_everConnected = false;   // since this launch
    bool m_activeAnnounced = false; // once per launch
    ClientMetrics* m_metrics = nullptr;
    std::optional<int> m_metricsReady; // the last count taken from the metrics witness
    int m_bindRetries = 0;             // since the last start()
    QTimer m_outageTimer;
    QTimer m_limitTimer;
    std::optional<std::chrono::seconds> m_stopAfter;
    QDateTime m_stopsAt;
    QDeadlineTimer m_limitDeadline; // the same moment on the monotonic clock
    QString m_password;
    std::shared_ptr<BasicAuthGuard> m_guard;
    bool m_retired = false;
    NamedTunnelSetup* m_setup = nullptr; // while the named tunnel is set up
    QString m_stepText;
    std::optional<AccountOutcome::Kind> m_accountProblem; // the setup's, filed on the board
    bool m_restart = false; // the address changed while running: start again once stopped
};
