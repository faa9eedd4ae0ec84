#include "proxy/GatewayState.h"

#include "proxy/GatewayLoop.h"
#include "proxy/ProxySession.h"

void GatewayState::tell() {
    if (!stopped && onStatus)
        onStatus(status);
}

void GatewayState::requestStarted(steady_clock::time_point now) {
    if (++inFlight >= limits.inFlight)
        raise(InFlightLimit, status.inFlightLimit);
    // One timer for every waiting request, set for the one that waits longest.
    if (!watchingFirstByte)
        armFirstByteWatch(now + limits.firstByte);
}

void GatewayState::eventStreamAnswered() {
    raise(EventStream, status.eventStream);
}

void GatewayState::forgetEventStream() {
    if (status.eventStream) {
        status.eventStream = false;
        tell();
    }
}

void GatewayState::close() {
    stopped = true;
    if (firstByteTimer)
        firstByteTimer->cancel();
    if (holdTimer)
        holdTimer->cancel();
}

void GatewayState::raise(Fact fact, bool& flag) {
    lastSeen[fact] = steady_clock::now();
    if (!flag) {
        flag = true;
        tell();
    }
    if (!holding)
        holdUntil(lastSeen[fact] + limits.hold);
}

void GatewayState::holdUntil(steady_clock::time_point at) {
    holding = true;
    if (!holdTimer)
        holdTimer.emplace(GatewayLoop::context());
    holdTimer->expires_at(at);
    holdTimer->async_wait([self = shared_from_this()](boost::system::error_code ec) {
        if (!ec && !self->stopped)
            self->expireFacts();
    });
}

// Seen again meanwhile moves a fact's end on; the timer is set for the first end still ahead.
void GatewayState::expireFacts() {
    holding = false;
    const auto now = steady_clock::now();
    bool changed = false;
    std::optional<steady_clock::time_point> next;
    for (Fact fact : {EventStream, SlowFirstByte, InFlightLimit}) {
        bool& flag = this->flag(fact);
        if (!flag)
            continue;
        if (lastSeen[fact] + limits.hold > now) {
            next = std::min(next.value_or(lastSeen[fact]), lastSeen[fact]);
            continue;
        }
        changed = true;
        flag = false;
        if (fact == SlowFirstByte)
            status.slowMethod.clear(), status.slowPath.clear();
    }
    if (changed)
        tell();
    if (next)
        holdUntil(*next + limits.hold);
}

bool& GatewayState::flag(Fact fact) {
    return fact == EventStream     ? status.eventStream
           : fact == InFlightLimit ? status.inFlightLimit
                                   : slowRequestUp;
}

void GatewayState::armFirstByteWatch(steady_clock::time_point at) {
    watchingFirstByte = true;
    if (!firstByteTimer)
        firstByteTimer.emplace(GatewayLoop::context());
    firstByteTimer->expires_at(at);
    firstByteTimer->async_wait([self = shared_from_this()](boost::system::error_code ec) {
        if (!ec && !self->stopped)
            self->checkFirstBytes();
    });
}

void GatewayState::checkFirstBytes() {
    watchingFirstByte = false;
    const auto now = steady_clock::now();
    std::optional<steady_clock::time_point> earliest;
    ProxySession* late = nullptr;
    for (ProxySession* session : sessions) {
        const auto since = session->waitingSince();
        if (since == steady_clock::time_point{})
            continue;
        if (since + limits.firstByte > now)
            earliest = std::min(earliest.value_or(since), since);
        else if (!late || session->waitingSince() < late->waitingSince())
            late = session;
    }
    if (late) {
        // The one that waited longest is named; each is told once.
        late->describeRequest(status.slowMethod, status.slowPath);
        for (ProxySession* session : sessions)
            if (session->waitingSince() != steady_clock::time_point{} &&
                session->waitingSince() + limits.firstByte <= now)
                session->forgetWaiting();
        slowRequestUp = false; // told again: the names may be new
        raise(SlowFirstByte, slowRequestUp);
    }
    if (earliest)
        armFirstByteWatch(*earliest + limits.firstByte);
}
