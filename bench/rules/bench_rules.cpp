// Speed of the rule lookups, of the start-up compaction, of sorting one
// message, of the Inbox re-check and of a rule import against a large rule
// database, in a private temporary home.
#include "BenchHome.h"
#include "MessageFolderModel.h"
#include "RuleClassifier.h"
#include "RuleCommands.h"
#include "RuleDatabase.h"
#include "RuleFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>

namespace {

constexpr int kRules = 100000;
constexpr int kLookups = 20000;
constexpr int kInboxRows = 5000;
constexpr int kPatternRules = 1000;
constexpr int kMessages = 4000;
constexpr int kImportRules = 100000;

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

// Address patterns and header rules of the kinds users write, four in five
// for the filter list.
void patternRules(QStringList *filter, QStringList *exempted)
{
    for (int i = 0; i < kPatternRules; ++i) {
        QString rule;
        switch (i % 8) {
        case 0:
            rule = QStringLiteral("*@*.spam%1.example").arg(i);
            break;
        case 1:
            rule = QStringLiteral("news-*@shop%1.example").arg(i);
            break;
        case 2:
            rule = QStringLiteral("*@*.zone%1").arg(i);
            break;
        case 3:
            rule = QStringLiteral("Subject: *offer number %1*").arg(i);
            break;
        case 4:
            rule = QStringLiteral("List-Id: *promo%1*").arg(i);
            break;
        case 5:
            rule = QStringLiteral("X-Mailer: *bulk%1*").arg(i);
            break;
        case 6:
            rule = QStringLiteral("To: *undisclosed%1*").arg(i);
            break;
        default:
            rule = QStringLiteral("X-Spam-Status: Yes, score=%1*").arg(i);
            break;
        }
        (i % 5 == 4 ? exempted : filter)->append(rule);
    }
}

// A header as a provider delivers it: trace lines, an encoded subject now
// and then; some messages match a pattern, a header rule or an exact rule.
QString messageHeader(int i, QString *sender)
{
    switch (i % 4) {
    case 0:
        *sender = QStringLiteral("Offers <win%1@mx.spam%2.example>").arg(i).arg((i / 4 % 125) * 8);
        break;
    case 1:
        *sender = filterRule((i * 7919) % kRules);
        break;
    default:
        *sender = QStringLiteral("\"Someone %1\" <someone%1@elsewhere%2.example>").arg(i).arg(i % 50);
        break;
    }
    const QString subject = i % 3 == 0
        ? QStringLiteral("=?UTF-8?Q?Gro=C3=9Fes_offer_number_%1_inside?=").arg((i % 125) * 8 + 3)
        : QStringLiteral("Re: minutes of meeting %1").arg(i);
    return QStringLiteral("+OK message follows\r\n"
                          "Return-Path: <bounce@elsewhere.example>\r\n"
                          "Received: from mx.elsewhere.example (mx.elsewhere.example [192.0.2.1])\r\n"
                          "\tby pop.example.org with ESMTP id %1;\r\n\tTue, 1 Dec 2026 08:07:13 +0100\r\n"
                          "Received: from relay.example by mx.elsewhere.example; Tue, 1 Dec 2026 08:07:10 +0100\r\n"
                          "From: %2\r\n"
                          "To: Demo User <demo@pop.example.org>\r\n"
                          "Subject: %3\r\n"
                          "Date: Tue, 1 Dec 2026 08:07:13 +0100\r\n"
                          "Message-ID: <%1.1@elsewhere.example>\r\n"
                          "List-Id: <list%4.lists.example>\r\n"
                          "X-Mailer: Mailer %4\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\n"
                          "\r\n.\r\n")
        .arg(i)
        .arg(*sender, subject)
        .arg(i % 40);
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
    {
        const RuleClassifier rules = RuleClassifier::fromDatabase(db);
        for (const auto &[row, reason] : RuleCommands::rowsToRecycleBin(inbox, rules)) {
            MessageEntry entry = inbox.takeAt(row);
            entry.iconKey = QStringLiteral("recycle");
            entry.sortReason = reason;
            recycle.append(entry);
        }
    }
    const qint64 recheckNs = timer.nsecsElapsed();
    if (recycle.count() != (kInboxRows + 2) / 3) {
        std::fprintf(stderr, "the re-check moved %d rows\n", recycle.count());
        return 1;
    }
    report("recheck_5000_100k", double(recheckNs) / 1e6, "ms");

    // Sorting one message as the fetch does, with the patterns and header
    // rules compiled once beforehand.
    QStringList filterPatterns, exemptedPatterns;
    patternRules(&filterPatterns, &exemptedPatterns);
    if (!db.InsertRuleSets(filterPatterns, exemptedPatterns)) {
        std::fprintf(stderr, "cannot store the pattern rules\n");
        return 1;
    }
    QStringList senders;
    QList<QByteArray> headers;
    for (int i = 0; i < kMessages; ++i) {
        QString sender;
        headers.append(messageHeader(i, &sender).toUtf8());
        senders.append(sender);
    }
    const RuleClassifier classifier = RuleClassifier::fromDatabase(db);
    int sorted[4] = {0, 0, 0, 0};
    timer.restart();
    for (int i = 0; i < kMessages; ++i)
        ++sorted[int(classifier.classify(senders.at(i), headers.at(i)).kind)];
    const qint64 classifyNs = timer.nsecsElapsed();
    if (sorted[int(SortReason::Kind::Filter)] == 0 || sorted[int(SortReason::Kind::NoRule)] == 0) {
        std::fprintf(stderr, "the sorting found no filter rule or matched everything\n");
        return 1;
    }
    report("classify_100k_1k", double(classifyNs) / 1000.0 / kMessages, "us");
    db.CloseRuleDatabase();

    // Importing 100,000 rules into an empty database; one in ten is there twice.
    const QString importFolder = home.path() + QStringLiteral("/import");
    QDir().mkpath(importFolder);
    const QString file = importFolder + QStringLiteral("/rules.txt");
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write the rule file\n");
            return 1;
        }
        QByteArray text("# rules for the benchmark\n");
        for (int i = 0; i < kImportRules; ++i) {
            const int n = i % 10 == 9 ? i - 1 : i;
            text += (n % 4 == 0 ? "exempt " : "filter ") + filterRule(n).toUtf8() + '\n';
        }
        out.write(text);
    }
    RuleDatabase fresh(importFolder);
    if (!fresh.OpenRuleDatabase(&error)) {
        std::fprintf(stderr, "cannot open the import database: %s\n", qPrintable(error));
        return 1;
    }
    timer.restart();
    const std::optional<RuleFile::ImportReport> imported = RuleFile::importRules(fresh, file, &error);
    const qint64 importNs = timer.nsecsElapsed();
    if (!imported || imported->added + imported->present != kImportRules || imported->present < kImportRules / 10) {
        std::fprintf(stderr, "the import went wrong: %s\n", qPrintable(error));
        return 1;
    }
    report("import_100k", double(importNs) / 1e6, "ms");
    return 0;
}
