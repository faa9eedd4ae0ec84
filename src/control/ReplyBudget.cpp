#include "control/ReplyBudget.h"

#include <QJsonDocument>

qint64 ReplyBudget::sizeOf(const QJsonObject& item) {
    return QJsonDocument(item).toJson(QJsonDocument::Compact).size();
}
