#include "model/SaveLock.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

void clearAbandonedSaveLock(const QSettings& settings) {
    const QString lockPath = settings.fileName() + QStringLiteral(".lock");
    const QFileInfo lock(lockPath);
    if (lock.isFile() && lock.size() == 0)
        QFile::remove(lockPath);
}
