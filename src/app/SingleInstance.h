#pragma once

#include "DataFolderLock.h"

#include <QObject>
#include <QString>

class QLocalServer;

// The "another copy is running" check of the window: the data folder's
// lock, held for the whole run, and beside it a local socket in the same
// folder on which a later start asks the running copy to show its window.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kSocketName = "trelvik.socket";

    // `dataFolder` defaults to the folder of the rule database.
    explicit SingleInstance(const QString &dataFolder = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Busy when another copy holds the folder; Failed (with *error) when the
    // lock cannot be taken at all.
    DataFolderLock::Result tryAcquire(QString *error = nullptr);
    bool isHeld() const { return m_lock.isHeld(); }

    // The holder: from now on a later start reaches it as showRequested().
    // Removes what an earlier holder's killed listen left in the folder.
    void listen();
    // A later start: asks the holder to show its window. Bounded; a holder
    // that does not answer is left alone. False when no window listens: the
    // holder is a command-line run (or a window not yet listening).
    bool askHolderToShow();

    QString socketPath() const;

Q_SIGNALS:
    void showRequested();

private:
    DataFolderLock m_lock;
    QLocalServer *m_server = nullptr;
};
