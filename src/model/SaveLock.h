#pragma once

class QSettings;

// QSettings guards every write with "<file>.lock". A process killed between creating that lock
// and writing its owner into it leaves an empty lock, which QLockFile only treats as stale
// after 30 s: the next save would hang that long. Call while no other process can be saving
// the same file (for Quillby: once the single-instance lock is held, before the first save).
// Removes the lock only when it is empty; a lock naming its owner is left to QLockFile.
void clearAbandonedSaveLock(const QSettings& settings);
