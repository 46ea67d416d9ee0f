#include "ServerSpamMarks.h"

#include "RuleDatabase.h"
#include "RuleLists.h"

namespace ServerSpamMarks {

const QStringList &rules()
{
    static const QStringList marks{QStringLiteral("X-Spam-Flag: YES"), QStringLiteral("X-Spam-Status: Yes*"),
                                   QStringLiteral("X-Spam: Yes*")};
    return marks;
}

int addTo(RuleLists &lists)
{
    const QString table = QStringLiteral("tbfilter");
    RuleDatabase &db = lists.database();
    int added = 0;
    for (const QString &mark : rules()) {
        if (db.IsInList(mark, table))
            continue;
        lists.AddFilter(mark);
        if (db.IsInList(mark, table))
            ++added;
    }
    return added;
}

} // namespace ServerSpamMarks
