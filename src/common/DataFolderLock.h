#pragma once

#include <QString>

// One running copy per data folder: an operating-system lock (flock) on the
// file "trelvik.lock" in that folder, held for as long as this object holds
// it. The kernel lets the lock go when the process ends, however it ends, so
// a file left behind (empty, garbage, another host's, a link, a folder) is
// never a reason to refuse; only a live holder is. A folder of that name
// that holds something is moved aside as "trelvik.lock.left-<time>".
// Usable by any front end: no widgets.
class DataFolderLock {
public:
    enum class Result {
        Acquired, // this process now holds the folder
        Busy, // another process holds it
        Failed, // the lock file cannot be made or locked; see error
    };

    static constexpr const char *kFileName = "trelvik.lock";

    explicit DataFolderLock(const QString &folder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock &) = delete;
    DataFolderLock &operator=(const DataFolderLock &) = delete;

    // Creates the folder (mode 0700) when it is missing. Asking again while
    // held answers Acquired.
    Result tryAcquire(QString *error = nullptr);
    bool isHeld() const { return m_fd >= 0; }
    void release();

    QString folder() const { return m_folder; }
    QString lockPath() const;

private:
    QString m_folder;
    int m_fd = -1;
};
