// Speed of the rule lookups, of the start-up compaction and of the Inbox
// re-check against a large rule database, in a private temporary home.
#include "BenchHome.h"
#include "MessageFolderModel.h"
#include "RuleCommands.h"
#include "RuleDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>

namespace {

constexpr int kRules = 100000;
constexpr int kLookups = 20000;
constexpr int kInboxRows = 5000;

QString filterRule(int i)
{
    // Mixed case and a few non-ASCII letters, as real senders come.
    return i % 7 == 0 ? QStringLiteral("Müller.%1@Beispiel-%2.de").arg(i).arg(i % 97)
                      : QStringLiteral("Sender.%1@Example-%2.COM").arg(i).arg(i % 113);
}

QString exemptedRule(int i)
{
    return QStringLiteral("friend%1@club-%2.org").arg(i).arg(i % 53);
}

bool fill(RuleDatabase &db)
{
    QStringList filter, exempted;
    filter.reserve(kRules);
    exempted.reserve(kRules);
    for (int i = 0; i < kRules; ++i) {
        filter.append(filterRule(i));
        exempted.append(exemptedRule(i));
    }
    return db.InsertRules(QStringLiteral("tbfilter"), filter) && db.InsertRules(QStringLiteral("tbexempted"), exempted);
}

void report(const char *name, double value, const char *unit)
{
    std::printf("BENCH %s %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const BenchHome home;
    if (!home.isValid())
        return 1;
    QCoreApplication app(argc, argv);

    RuleDatabase db;
    QString error;
    if (!db.OpenRuleDatabase(&error) || !fill(db)) {
        std::fprintf(stderr, "cannot build the rule database: %s\n", qPrintable(error));
        return 1;
    }

    // Half the lookups find a rule (in another case), half find none.
    QStringList probes;
    probes.reserve(kLookups);
    for (int i = 0; i < kLookups; ++i) {
        const int n = (i * 7919) % kRules;
        probes.append(i % 2 == 0 ? filterRule(n).toLower() : QStringLiteral("stranger%1@nowhere.net").arg(i));
    }
    int found = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kLookups; ++i) {
        const QString &table = (i % 4 < 2) ? QStringLiteral("tbfilter") : QStringLiteral("tbexempted");
        found += db.IsInList(probes.at(i), table) ? 1 : 0;
    }
    const qint64 lookupNs = timer.nsecsElapsed();
    if (found == 0) {
        std::fprintf(stderr, "the lookups found nothing\n");
        return 1;
    }
    report("isinlist_100k", double(lookupNs) / 1000.0 / kLookups, "us");

    db.CloseRuleDatabase();
    timer.restart();
    const bool compacted = db.CompactRuleDatabase();
    const qint64 compactNs = timer.nsecsElapsed();
    if (!compacted)
        return 1;
    report("compact_100k", double(compactNs) / 1e6, "ms");

    // The Inbox re-check after "Add Sender To Filter List": a third of the
    // rows are senders of the filter list, written in another case.
    if (!db.OpenRuleDatabase(&error)) {
        std::fprintf(stderr, "cannot reopen the rule database: %s\n", qPrintable(error));
        return 1;
    }
    MessageFolderModel inbox;
    MessageFolderModel recycle;
    for (int i = 0; i < kInboxRows; ++i) {
        MessageEntry entry;
        entry.sender = i % 3 == 0 ? filterRule((i * 31) % kRules).toUpper()
                                  : QStringLiteral("Someone %1 <someone%1@elsewhere.example>").arg(i);
        entry.subject = QStringLiteral("Message %1").arg(i);
        entry.number = i + 1;
        entry.iconKey = QStringLiteral("inbox");
        inbox.append(entry);
    }
    timer.restart();
    const QList<int> rows = RuleCommands::rowsInFilterList(inbox, RuleCommands::Value::Sender, db);
    for (const int row : rows) {
        MessageEntry entry = inbox.takeAt(row);
        entry.iconKey = QStringLiteral("recycle");
        recycle.append(entry);
    }
    const qint64 recheckNs = timer.nsecsElapsed();
    if (recycle.count() != (kInboxRows + 2) / 3) {
        std::fprintf(stderr, "the re-check moved %d rows\n", recycle.count());
        return 1;
    }
    report("recheck_5000_100k", double(recheckNs) / 1e6, "ms");
    return 0;
}
