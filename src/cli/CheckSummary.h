#pragma once

#include <QList>
#include <QString>
#include <optional>

struct CheckReport;

// What a check of one profile or of all of them comes to: the run's exit
// code and the one desktop notification it sends, which speaks of what needs
// attention (a profile that could not be checked, messages that could not
// be deleted) before routine deletions, and is not sent when there is
// nothing to tell.
class CheckSummary {
public:
    // A profile whose mailbox was read; `code` is its run's exit code (a
    // deletion can still have failed) and `why` the first error it printed.
    void addChecked(const CheckReport &report, int code, const QString &why);
    // A profile that could not be checked at all.
    void addFailed(const QString &profile, int code, const QString &why);

    // The worst of the profiles' codes, in this order from best to worst:
    // 0 done, 6 busy, 5 partly deleted, 4 connection or login failure,
    // 3 not configured, 1 any other failure, 2 usage. A failure that needs
    // the user (configuration, something broken) outranks one that the next
    // run may not meet again.
    int exitCode() const;
    static int worse(int a, int b);

    struct Notification {
        QString summary;
        QString body;
    };
    std::optional<Notification> notification() const;

private:
    struct Profile {
        QString name;
        int code = 0;
        bool checked = false;
        int deleted = 0;
        QString action; // what its removal did; empty: deleted
        int notDeleted = 0;
        int waiting = 0;
        QString why;
    };
    QList<Profile> m_profiles;
};
