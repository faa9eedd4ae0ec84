#include "platform/ChildErrorReader.h"

#include <QProcess>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Large enough for a chatty client's burst, small enough to stay in the cache.
constexpr size_t bufferSize = 256 * 1024;
// Reads per wake-up before the event loop gets its turn again.
constexpr int readsPerWakeUp = 4;

} // namespace

struct ChildErrorReader::Impl {
    Sink sink;
    int readEnd = -1;
    int writeEnd = -1;
    QSocketNotifier* notifier = nullptr;
    std::vector<char> buffer = std::vector<char>(bufferSize);

    enum class State { More, Empty, Ended };

    // Reads up to `reads` times.
    State read(int reads) {
        for (int i = 0; i < reads; ++i) {
            const ssize_t n = ::read(readEnd, buffer.data(), buffer.size());
            if (n > 0) {
                sink(QByteArrayView(buffer.data(), n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return State::Empty;
            close();
            return State::Ended;
        }
        return State::More;
    }

    void close() {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
            notifier = nullptr;
        }
        for (int* fd : {&readEnd, &writeEnd}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
};

ChildErrorReader::ChildErrorReader(QProcess& process, Sink sink, QObject* parent)
    : QObject(parent)
    , m_impl(std::make_unique<Impl>()) {
    m_impl->sink = std::move(sink);
    int fds[2];
    // Close-on-exec on both of our ends: only the child's standard error survives its exec.
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        process.setStandardErrorFile(QProcess::nullDevice());
        return;
    }
    m_impl->readEnd = fds[0];
    m_impl->writeEnd = fds[1];
    // The write end blocks, as a child's standard error normally does.
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) & ~O_NONBLOCK);
#ifdef F_SETPIPE_SZ
    // Fewer, larger reads when the client is chatty.
    ::fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
#endif
    process.setStandardErrorFile(QProcess::nullDevice());
    const int writeEnd = fds[1];
    auto previous = process.childProcessModifier();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    process.setChildProcessModifier([previous, writeEnd] {
        if (previous)
            previous();
        ::dup2(writeEnd, STDERR_FILENO);
    });
    m_impl->notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    connect(m_impl->notifier, &QSocketNotifier::activated, this,
            [this] { m_impl->read(readsPerWakeUp); });
}

ChildErrorReader::~ChildErrorReader() {
    m_impl->close();
}

void ChildErrorReader::started() {
    // The child holds its own copy now; ours would keep the stream from ever ending.
    if (m_impl->writeEnd >= 0)
        ::close(m_impl->writeEnd);
    m_impl->writeEnd = -1;
}

void ChildErrorReader::drain() {
    // Stops at an empty pipe: a descendant of the child may still hold the write end.
    while (m_impl->readEnd >= 0 && m_impl->read(readsPerWakeUp) == Impl::State::More) {
    }
}
