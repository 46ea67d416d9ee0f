#include "HistoryCommand.h"

#include "ConsoleOutput.h"
#include "DeletionHistory.h"
#include "ExitCode.h"
#include "HeaderDisplay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace HistoryCommand {

int run(const CommandLine::Options &options, RuleDatabase &rules)
{
    QString error;
    const auto records = DeletionHistory(rules).read(&error);
    if (!records) {
        ConsoleOutput::error(QStringLiteral("The deletion history could not be read: ") + error);
        return ExitCode::Failure;
    }
    QJsonArray list;
    for (const DeletionRecord &r : *records) {
        if (!options.profile.isEmpty() && r.profile.compare(options.profile, Qt::CaseInsensitive) != 0)
            continue;
        const QString sender = HeaderDisplay::decodedText(r.sender);
        const QString subject = HeaderDisplay::decodedText(r.subject);
        if (options.json) {
            list.append(QJsonObject{
                {QStringLiteral("time"), r.time.toUTC().toString(Qt::ISODate)},
                {QStringLiteral("profile"), r.profile},
                {QStringLiteral("sender"), sender},
                {QStringLiteral("subject"), subject},
                {QStringLiteral("date"), r.date},
                {QStringLiteral("size"), r.size},
                {QStringLiteral("uid"), r.uid},
                {QStringLiteral("rule"), r.rule},
                {QStringLiteral("state"), r.unconfirmed ? QStringLiteral("deleted, unconfirmed") : QStringLiteral("deleted")},
            });
            continue;
        }
        QString time = r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (r.unconfirmed) // the run ended before the server confirmed it
            time += QStringLiteral(" (deleted, unconfirmed)");
        QStringList fields = {time,
                              r.profile, sender, subject, r.date, r.size, r.uid, r.rule};
        for (QString &field : fields)
            field = ConsoleOutput::plain(field);
        ConsoleOutput::out(fields.join(QLatin1Char('\t')));
    }
    if (options.json)
        ConsoleOutput::out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("deleted"), list}})
                                                 .toJson(QJsonDocument::Indented)
                                                 .trimmed()));
    return ExitCode::Done;
}

} // namespace HistoryCommand
