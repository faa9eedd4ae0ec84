#pragma once

#include "model/ClientProcess.h"

#include <QProcess>
#include <QTimer>

class ChildErrorReader;

// The real client as a child process. Its standard output goes to the null device (an unread
// pipe would fill up and block it); its standard error is read as it comes. The operating
// system ends it when Quillby ends, however Quillby ends.
class QProcessClient : public ClientProcess {
    Q_OBJECT

public:
    explicit QProcessClient(QObject* parent = nullptr);
    // Ends a child still running, briefly waiting for a graceful exit.
    ~QProcessClient() override;

    bool launch(const QString& program, const QStringList& arguments, QString* reason) override;
    void stop() override;
    bool isRunning() const override;
    qint64 pid() const override;

private:
    void finish(int exitCode);

    QProcess m_process;
    ChildErrorReader* m_reader = nullptr;
    QTimer m_killTimer;
    bool m_running = false;
};
