#include "platform/ChildErrorReader.h"

#include <QProcess>

// Without a pipe of our own, QProcess's channel is read; each read allocates a buffer.
struct ChildErrorReader::Impl {
    QProcess* process = nullptr;
    Sink sink;

    void read() {
        const QByteArray chunk = process->readAllStandardError();
        if (!chunk.isEmpty())
            sink(chunk);
    }
};

ChildErrorReader::ChildErrorReader(QProcess& process, Sink sink, QObject* parent)
    : QObject(parent)
    , m_impl(std::make_unique<Impl>()) {
    m_impl->process = &process;
    m_impl->sink = std::move(sink);
    process.setReadChannel(QProcess::StandardError);
    connect(&process, &QProcess::readyReadStandardError, this, [this] { m_impl->read(); });
}

ChildErrorReader::~ChildErrorReader() = default;

void ChildErrorReader::started() {}

void ChildErrorReader::drain() {
    m_impl->read();
}
