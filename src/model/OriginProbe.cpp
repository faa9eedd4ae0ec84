#include "model/OriginProbe.h"

#include <QTcpSocket>
#include <QTimer>
#include <memory>

void OriginProbe::look(qint64 port, QObject* context, std::function<void(bool)> done) {
    struct Look {
        QObject* owner; // the sockets and the time-out; a child of context, so it ends with it
        std::function<void(bool)> done;
        int refused = 0;
        void answer(bool listening) {
            if (!done)
                return;
            owner->deleteLater();
            std::exchange(done, nullptr)(listening);
        }
    };
    auto state = std::make_shared<Look>(Look{new QObject(context), std::move(done)});
    QTimer::singleShot(timeoutMs, state->owner, [state] { state->answer(false); });
    if (port < 1 || port > 65535) {
        QTimer::singleShot(0, state->owner, [state] { state->answer(false); });
        return;
    }
    for (const auto address : {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}) {
        auto* socket = new QTcpSocket(state->owner);
        QObject::connect(socket, &QTcpSocket::connected, state->owner,
                         [state] { state->answer(true); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, state->owner, [state] {
            if (++state->refused == 2)
                state->answer(false);
        });
        socket->connectToHost(QHostAddress(address), quint16(port));
    }
}
