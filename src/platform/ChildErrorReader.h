#pragma once

#include <QByteArrayView>
#include <QObject>
#include <functional>
#include <memory>

class QProcess;

// Reads a child's standard error as it comes and hands each read to a sink on this thread,
// from one buffer reused for every read: no allocation per read, and nothing copied after the
// kernel's copy into that buffer. Where the system allows it, the child writes into a pipe of
// our own; elsewhere QProcess's channel is read.
class ChildErrorReader : public QObject {
    Q_OBJECT

public:
    using Sink = std::function<void(QByteArrayView)>;

    // Before process.start(). The sink must stay valid while this object lives.
    ChildErrorReader(QProcess& process, Sink sink, QObject* parent = nullptr);
    ~ChildErrorReader() override;

    // After process.start() returned, whether or not the launch succeeded.
    void started();
    // Hands over everything the child has written and we have not read yet; for its exit.
    void drain();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
