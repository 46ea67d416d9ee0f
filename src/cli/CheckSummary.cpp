#include "CheckSummary.h"

#include "CheckReport.h"
#include "ExitCode.h"

#include <QStringList>

namespace {

int rank(int code)
{
    switch (code) {
    case ExitCode::Done:
        return 0;
    case ExitCode::Busy:
        return 1;
    case ExitCode::PartlyDeleted:
        return 2;
    case ExitCode::ConnectionFailed:
        return 3;
    case ExitCode::NotConfigured:
        return 4;
    case ExitCode::Usage:
        return 6;
    default:
        return 5; // Failure, and anything unforeseen
    }
}

QString messageCount(int n)
{
    return n == 1 ? QStringLiteral("1 message") : QStringLiteral("%1 messages").arg(n);
}

// What was done with the Recycle Bin rows, "deleted 2 messages from A, B",
// by the removal actions of the profiles that removed any: a move names its
// folder ("moved ... to Junk"), actions that differ are only "removed".
QString removedText(const QStringList &actions, int count, const QStringList &names)
{
    const QString what = messageCount(count);
    const QString where = names.join(QStringLiteral(", "));
    const QString first = actions.value(0);
    if (actions.count(first) != actions.size())
        return QStringLiteral("removed %1 from %2").arg(what, where);
    if (first.isEmpty())
        return QStringLiteral("deleted %1 from %2").arg(what, where);
    const QString moved = QStringLiteral("moved to ");
    if (first.startsWith(moved))
        return QStringLiteral("moved %1 from %2 to %3").arg(what, where, first.mid(moved.size()));
    return QStringLiteral("%1 from %2: %3").arg(what, where, first);
}

bool failed(int code)
{
    return code != ExitCode::Done && code != ExitCode::PartlyDeleted;
}

} // namespace

void CheckSummary::addChecked(const CheckReport &report, int code, const QString &why)
{
    Profile p;
    p.name = report.profile;
    p.code = code;
    p.checked = true;
    p.deleted = report.count(CheckReport::Result::Deleted);
    p.action = report.removalAction;
    p.notDeleted = report.count(CheckReport::Result::NotDeleted);
    p.waiting = int(report.messages.size()) - p.deleted - report.count(CheckReport::Result::AlreadyGone);
    p.why = why;
    m_profiles.append(p);
}

void CheckSummary::addFailed(const QString &profile, int code, const QString &why)
{
    Profile p;
    p.name = profile;
    p.code = code;
    p.why = why;
    m_profiles.append(p);
}

int CheckSummary::worse(int a, int b)
{
    return rank(b) > rank(a) ? b : a;
}

int CheckSummary::exitCode() const
{
    int code = ExitCode::Done;
    for (const Profile &p : m_profiles)
        code = worse(code, p.code);
    return code;
}

std::optional<CheckSummary::Notification> CheckSummary::notification() const
{
    QStringList failedNames, undeletedNames, deletedNames, actions, lines;
    int deleted = 0, notDeleted = 0, waiting = 0;
    bool anyChecked = false;
    for (const Profile &p : m_profiles) {
        if (failed(p.code)) {
            failedNames << p.name;
            lines << (p.why.isEmpty() ? QStringLiteral("%1: failed (exit status %2).").arg(p.name).arg(p.code)
                                      : QStringLiteral("%1: %2").arg(p.name, p.why));
        }
        if (p.notDeleted > 0) {
            undeletedNames << p.name;
            lines << QStringLiteral("%1: %2 could not be deleted.").arg(p.name, messageCount(p.notDeleted));
        }
        if (p.deleted > 0) {
            deletedNames << p.name;
            actions << p.action;
        }
        deleted += p.deleted;
        notDeleted += p.notDeleted;
        waiting += p.waiting;
        anyChecked = anyChecked || p.checked;
    }
    const QString separator = QStringLiteral(", ");
    Notification n;
    if (!failedNames.isEmpty())
        n.summary = QStringLiteral("Trelvik could not check %1").arg(failedNames.join(separator));
    else if (notDeleted > 0)
        n.summary = QStringLiteral("Trelvik could not delete %1 from %2")
                        .arg(messageCount(notDeleted), undeletedNames.join(separator));
    else if (deleted > 0)
        n.summary = QStringLiteral("Trelvik ") + removedText(actions, deleted, deletedNames);
    else
        return std::nullopt; // a routine run: nothing to tell
    if (deleted > 0 && (!failedNames.isEmpty() || notDeleted > 0)) {
        QString line = removedText(actions, deleted, deletedNames) + QLatin1Char('.');
        line[0] = line[0].toUpper();
        lines << line;
    }
    if (anyChecked)
        lines << (waiting == 1 ? QStringLiteral("1 message is waiting.")
                               : QStringLiteral("%1 messages are waiting.").arg(waiting));
    n.body = lines.join(QLatin1Char('\n'));
    return n;
}
