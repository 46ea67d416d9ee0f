#include "HistoryCommand.h"

#include "ConsoleOutput.h"
#include "DeletionHistory.h"
#include "ExitCode.h"
#include "HeaderDisplay.h"
#include "JsonStreamWriter.h"
#include "Profile.h"

#include <algorithm>

namespace HistoryCommand {

namespace {

// A profile of that name exists, or did: the history of a deleted profile
// stays readable by its name.
bool knownProfile(const QString &name, const QList<DeletionRecord> &records)
{
    const auto same = [&name](const QString &other) { return other.compare(name, Qt::CaseInsensitive) == 0; };
    const QStringList names = ProfileNames();
    return std::any_of(names.cbegin(), names.cend(), same)
        || std::any_of(records.cbegin(), records.cend(), [&same](const DeletionRecord &r) { return same(r.profile); });
}

} // namespace

int run(const CommandLine::Options &options, RuleDatabase &rules)
{
    QString error;
    const auto records = DeletionHistory(rules).read(&error);
    if (!records) {
        ConsoleOutput::error(QStringLiteral("The deletion history could not be read: ") + error);
        return ExitCode::Failure;
    }
    if (!options.profile.isEmpty() && !knownProfile(options.profile, *records)) {
        ConsoleOutput::error(QStringLiteral("There is no profile \"%1\", and the deletion history holds nothing "
                                            "of one by that name.")
                                 .arg(ConsoleOutput::plain(options.profile)));
        return ExitCode::NotConfigured;
    }
    // Written as it comes, with the keys in the order a QJsonObject keeps
    // them (sorted), as the document always read.
    JsonStreamWriter w(ConsoleOutput::outPiece);
    if (options.json) {
        w.beginObject();
        w.key(u"deleted");
        w.beginArray();
    }
    for (const DeletionRecord &r : *records) {
        if (!options.profile.isEmpty() && r.profile.compare(options.profile, Qt::CaseInsensitive) != 0)
            continue;
        const QString sender = HeaderDisplay::decodedText(r.sender);
        const QString subject = HeaderDisplay::decodedText(r.subject);
        if (options.json) {
            w.beginObject();
            w.field(u"date", r.date);
            w.field(u"profile", r.profile);
            w.field(u"rule", r.rule);
            w.field(u"sender", sender);
            // Bytes for scripts (null for entries recorded before sizes
            // were kept), and the text the window shows beside them.
            w.key(u"size");
            if (r.bytes >= 0)
                w.value(r.bytes);
            else
                w.nullValue();
            w.field(u"sizeShown", r.size);
            w.field(u"state", r.unconfirmed ? QStringLiteral("deleted, unconfirmed") : QStringLiteral("deleted"));
            w.field(u"subject", subject);
            w.field(u"time", r.time.toUTC().toString(Qt::ISODate));
            w.field(u"uid", r.uid);
            w.endObject();
            continue;
        }
        QString time = r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (r.unconfirmed) // the run ended before the server confirmed it
            time += QStringLiteral(" (deleted, unconfirmed)");
        QStringList fields = {time, r.profile, sender, subject, r.date, r.size, r.uid, r.rule};
        for (QString &field : fields)
            field = ConsoleOutput::plain(field);
        ConsoleOutput::out(fields.join(QLatin1Char('\t')));
    }
    if (options.json) {
        w.endArray();
        w.endObject();
        w.finish();
        ConsoleOutput::flushOut();
    }
    return ExitCode::Done;
}

} // namespace HistoryCommand
