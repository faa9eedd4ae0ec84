#include "ScriptedClient.h"

void ScriptedClient::print(QByteArrayView text) {
    if (m_running)
        emit errorOutput(text);
}

void ScriptedClient::exit(int status) {
    if (std::exchange(m_running, false))
        emit exited(status);
}

bool ScriptedClient::launch(const QString&, const QStringList& arguments, QString* reason) {
    this->arguments = arguments;
    *reason = launchFailure; // read only when the launch fails
    return m_running = launchFailure.isEmpty();
}

void ScriptedClient::stop() {
    ++stopsAsked;
    if (!ignoreStop)
        QMetaObject::invokeMethod(
            this, [this] { exit(terminatedStatus); }, Qt::QueuedConnection);
}

std::function<std::unique_ptr<ClientProcess>(QObject*)> ScriptedClients::factory() {
    return [this](QObject* parent) {
        auto client = std::make_unique<ScriptedClient>(parent);
        if (prepare)
            prepare(*client);
        m_made.append(client.get());
        return std::unique_ptr<ClientProcess>(std::move(client));
    };
}
