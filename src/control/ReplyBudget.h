#pragma once

#include "control/ControlRequest.h"

#include <QJsonObject>

// What one reply line may still hold, so that a long list stays under
// ControlRequest::maxReplyBytes with room left for the reply's own fields.
class ReplyBudget {
public:
    static constexpr qint64 reserve = 64 * 1024;

    // The item's size in the reply.
    static qint64 sizeOf(const QJsonObject& item);
    bool fits(qint64 size) const { return m_used + size <= m_bytes; }
    void spend(qint64 size) { m_used += size; }

private:
    qint64 m_bytes = ControlRequest::maxReplyBytes - reserve;
    qint64 m_used = 0;
};
