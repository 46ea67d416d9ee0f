#include "ServerLessonsCommand.h"

#include "CancelFlag.h"
#include "ConsoleOutput.h"
#include "ExitCode.h"
#include "JsonStreamWriter.h"
#include "LessonTaker.h"
#include "ProfileRun.h"
#include "ProfileStore.h"
#include "TerminationSignals.h"

#include <QStringList>

namespace {

void print(const CommandLine::Options &options, const QString &profile, const LessonTaker::Counts &counts,
           const QList<LessonFolder> &folders)
{
    if (options.json) {
        JsonStreamWriter w(ConsoleOutput::outPiece);
        w.beginObject();
        w.field(u"decidedOtherwise", counts.decidedOtherwise);
        w.field(u"filtered", counts.filtered);
        w.key(u"folders");
        w.beginArray();
        for (const LessonFolder &folder : folders) {
            w.beginObject();
            w.field(u"kind", folder.spam ? QStringLiteral("spam") : QStringLiteral("good"));
            w.field(u"messages", qint64(folder.messages));
            w.field(u"name", folder.name);
            w.field(u"read", qint64(folder.read));
            w.endObject();
        }
        w.endArray();
        w.field(u"good", counts.good);
        w.field(u"judgedSpam", counts.judgedSpam);
        w.field(u"known", counts.known);
        w.field(u"ownVerdicts", counts.ownVerdicts);
        w.field(u"profile", profile);
        w.field(u"spam", counts.spam);
        w.endObject();
        w.finish();
        ConsoleOutput::outPiece("\n");
        ConsoleOutput::flushOut();
        return;
    }
    QStringList read;
    for (const LessonFolder &folder : folders)
        read << QStringLiteral("%1 %2 of %3")
                    .arg(ConsoleOutput::plain(folder.name), QString::number(folder.read),
                         QString::number(folder.messages));
    QString line = QStringLiteral("Learned %1 spam and %2 good messages from the server for the profile \"%3\" "
                                  "(read: %4).")
                       .arg(counts.spam)
                       .arg(counts.good)
                       .arg(ConsoleOutput::plain(profile), read.join(QStringLiteral(", ")));
    if (counts.known > 0)
        line += QStringLiteral(" %1 had been learned before.").arg(counts.known);
    if (counts.ownVerdicts > 0)
        line += QStringLiteral(" %1 in the spam folder were moved there by the learning itself and teach nothing.")
                    .arg(counts.ownVerdicts);
    if (counts.filtered > 0)
        line += QStringLiteral(" %1 in the good mail's folders are filter rules' hits and were not learned as good.")
                    .arg(counts.filtered);
    if (counts.judgedSpam > 0)
        line += QStringLiteral(" %1 in the good mail's folders look like your spam and were not learned as good.")
                    .arg(counts.judgedSpam);
    if (counts.decidedOtherwise > 0)
        line += QStringLiteral(" %1 had been learned the other way from your own decisions and were left so.")
                    .arg(counts.decidedOtherwise);
    if (std::none_of(folders.cbegin(), folders.cend(), [](const auto &f) { return f.spam; }))
        line += QStringLiteral(" The server has no Junk folder (none marked \\Junk, none named Junk or Spam): "
                               "nothing was learned as spam.");
    ConsoleOutput::out(line);
}

} // namespace

int ServerLessonsCommand::run(const CommandLine::Options &options, RuleDatabase &rules)
{
    const QString profile = ProfileRun::chooseProfile(options);
    if (profile.isEmpty())
        return ExitCode::NotConfigured;
    LessonTaker taker(rules, profile, ProfileStore::learningName(profile));
    QString error;
    if (!taker.load(&error)) {
        ConsoleOutput::error(QStringLiteral("The lessons could not be read: ") + error);
        return ExitCode::Failure;
    }
    CancelFlag cancel;
    TerminationSignals signalsCancel(cancel);
    // Learning reads the server and never dials on its own: a profile that
    // dials is dialled by the system's dialer.
    ProfileRun run(options, profile, cancel, ProfileRun::Dialing::AsProfileSays, !options.quiet);
    QString stored; // why a batch could not be stored: the reading stops there
    const auto sink = [&](const QList<QByteArray> &headers, bool spam) { return taker.take(headers, spam, &stored); };
    QList<LessonFolder> folders;
    const MailOutcome outcome = MailRun::learnFromServer(run.target(), sink, folders);
    run.status.clear();
    if (!stored.isEmpty()) {
        ConsoleOutput::error(QStringLiteral("The lessons could not be stored: ") + stored);
        return ExitCode::Failure;
    }
    const LessonTaker::Counts &counts = taker.counts();
    if (outcome == MailOutcome::Cancelled)
        ConsoleOutput::error(QStringLiteral("Cancelled; the lessons taken until then are kept."));
    else if (outcome != MailOutcome::Done && counts.spam + counts.good > 0)
        ConsoleOutput::error(
            QStringLiteral("The %1 spam and %2 good lessons taken before the reading stopped are kept.")
                .arg(counts.spam)
                .arg(counts.good));
    if (outcome != MailOutcome::Done)
        return ProfileRun::exitCodeFor(outcome);
    print(options, profile, counts, folders);
    return ExitCode::Done;
}
