#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// The "another copy is running" check: a lock file in the per-user runtime
// folder, held for the whole run. A lock left behind by a copy that crashed
// is taken over; a lock held by a live copy never is, however old it is.
class SingleInstance {
public:
    // The lock file's path in the per-user runtime folder.
    static QString lockPath();

    explicit SingleInstance(const QString &path = lockPath());
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this copy now holds the lock (it is the only one running).
    bool tryAcquire();
    bool isHeld() const { return m_lock.isLocked(); }

private:
    QLockFile m_lock;
};
