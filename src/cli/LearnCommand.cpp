#include "LearnCommand.h"

#include "ConsoleOutput.h"
#include "ExitCode.h"
#include "JsonStreamWriter.h"
#include "Learner.h"
#include "MessageFiles.h"
#include "ProfileRun.h"
#include "ProfileStore.h"

#include <QFile>

namespace {

// The message --classify reads: a file, or standard input for "-"; never
// more than the header bound and one byte.
QByteArray readMessage(const QString &path, QString *error)
{
    QFile file;
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        *error = file.errorString();
        return {};
    }
    QByteArray bytes;
    while (bytes.size() <= HeaderTokens::kMaxHeaderBytes) {
        const QByteArray piece = file.read(HeaderTokens::kMaxHeaderBytes + 1 - bytes.size());
        if (piece.isEmpty())
            break;
        bytes += piece;
        if (HeaderTokens::headerEnd(bytes) >= 0)
            break;
    }
    return bytes;
}

void printVerdict(const CommandLine::Options &options, const QString &profile, const LearnedVerdict &verdict,
                  const Learner &learner)
{
    if (options.json) {
        JsonStreamWriter w(ConsoleOutput::outPiece);
        w.beginObject();
        w.field(u"profile", profile);
        w.key(u"reasons");
        w.beginArray();
        for (const QString &reason : verdict.reasons)
            w.value(reason);
        w.endArray();
        w.key(u"score");
        if (verdict.kind == LearnedVerdict::Kind::None)
            w.nullValue();
        else
            w.value(verdict.percent());
        w.field(u"verdict", verdict.kindName());
        w.endObject();
        w.finish();
        ConsoleOutput::outPiece("\n");
        ConsoleOutput::flushOut();
        return;
    }
    if (verdict.kind == LearnedVerdict::Kind::None) {
        ConsoleOutput::out(QStringLiteral("none: the profile \"%1\" has learned too little to judge (%2 spam, %3 "
                                          "good messages)")
                               .arg(ConsoleOutput::plain(profile), QString::number(learner.model().spamMessages()),
                                    QString::number(learner.model().hamMessages())));
        return;
    }
    ConsoleOutput::out(verdict.kindName() + QStringLiteral(": ") + verdict.text());
    for (const QString &reason : verdict.reasons)
        ConsoleOutput::out(QStringLiteral("  ") + ConsoleOutput::plain(reason));
}

// Whose learning a command changed: the profile's own, or the pool it shares.
QString whose(const QString &profile, const QString &learning)
{
    return (learning == profile ? QStringLiteral("the profile \"%1\"")
                                : QStringLiteral("the profiles sharing their learning with \"%1\""))
        .arg(ConsoleOutput::plain(profile));
}

} // namespace

int LearnCommand::learn(const CommandLine::Options &options, RuleDatabase &rules)
{
    const QString profile = ProfileRun::chooseProfile(options);
    if (profile.isEmpty())
        return ExitCode::NotConfigured;
    const bool spam = !options.learnSpam.isEmpty();
    const QString path = spam ? options.learnSpam : options.learnHam;
    const QString learning = ProfileStore::learningName(profile);
    Learner learner(rules, learning);
    QString error;
    if (!learner.load(&error)) {
        ConsoleOutput::error(QStringLiteral("The lessons could not be read: ") + error);
        return ExitCode::Failure;
    }
    // A batch at a time, each stored whole: a large mailbox costs one
    // batch's memory, and what was stored before a failure stays learned.
    qsizetype stored = 0;
    qsizetype fresh = 0; // not learned this way before
    const MessageFiles::Totals read = MessageFiles::read(path, [&](const QList<QByteArray> &headers) {
        QList<Learner::Lesson> lessons;
        lessons.reserve(headers.size());
        for (const QByteArray &header : headers)
            lessons.append({header, spam});
        qsizetype taught = 0;
        if (!learner.teach(lessons, &error, &taught))
            return false;
        stored += headers.size();
        fresh += taught;
        return true;
    });
    if (!read.error.isEmpty()) {
        QString line = QStringLiteral("\"%1\" could not be read: %2").arg(ConsoleOutput::plain(path), read.error);
        if (stored > 0)
            line += QStringLiteral(" (the first %1 messages were learned)").arg(stored);
        ConsoleOutput::error(line);
        return ExitCode::Failure;
    }
    if (!error.isEmpty()) {
        QString line = QStringLiteral("The lessons could not be stored: ") + error;
        if (stored > 0)
            line += QStringLiteral(" (the first %1 messages were learned)").arg(stored);
        ConsoleOutput::error(line);
        return ExitCode::Failure;
    }
    QString line = QStringLiteral("Learned %1 messages of \"%2\" as %3 for %4.")
                       .arg(fresh)
                       .arg(ConsoleOutput::plain(path), spam ? QStringLiteral("spam") : QStringLiteral("good mail"),
                            whose(profile, learning));
    // Read again (or twice in one file): each message teaches once.
    if (stored > fresh)
        line += QStringLiteral(" %1 had been learned before.").arg(stored - fresh);
    if (read.refused > 0)
        line += QStringLiteral(" %1 could not be read as mail and were skipped.").arg(read.refused);
    if (read.unreadable > 0)
        line += QStringLiteral(" %1 could not be opened (%2) and were skipped.")
                    .arg(read.unreadable)
                    .arg(read.unreadableWhy);
    const int skipped = read.refused + read.unreadable;
    if (!options.quiet || skipped > 0)
        ConsoleOutput::out(line);
    // Nothing at all was mail: say so to a script too.
    return stored == 0 && skipped > 0 ? ExitCode::Failure : ExitCode::Done;
}

int LearnCommand::reset(const CommandLine::Options &options, RuleDatabase &rules)
{
    QString error;
    if (options.all) {
        // Profiles deleted long ago included: nothing learned stays behind.
        if (!LearnStore::resetAll(rules, &error)) {
            ConsoleOutput::error(QStringLiteral("The learning could not be reset: ") + error);
            return ExitCode::Failure;
        }
        if (!options.quiet)
            ConsoleOutput::out(QStringLiteral("Forgot what every profile had learned."));
        return ExitCode::Done;
    }
    const QString profile = ProfileRun::chooseProfile(options);
    if (profile.isEmpty())
        return ExitCode::NotConfigured;
    const QString learning = ProfileStore::learningName(profile);
    LearnStore store(rules, learning);
    // The counts only tell what is forgotten: counts that cannot be read
    // (damaged) are no reason to keep them.
    QString unread;
    const std::optional<LearnModel> was = store.load(&unread);
    if (!store.reset(&error)) {
        ConsoleOutput::error(QStringLiteral("The learning could not be reset: ") + error);
        return ExitCode::Failure;
    }
    if (!options.quiet && was)
        ConsoleOutput::out(QStringLiteral("Forgot what %1 had learned (%2 spam and %3 good messages).")
                               .arg(whose(profile, learning), QString::number(was->spamMessages()),
                                    QString::number(was->hamMessages())));
    else if (!options.quiet)
        ConsoleOutput::out(QStringLiteral("Forgot what %1 had learned.").arg(whose(profile, learning)));
    return ExitCode::Done;
}

int LearnCommand::classify(const CommandLine::Options &options, RuleDatabase &rules)
{
    const QString profile = ProfileRun::chooseProfile(options);
    if (profile.isEmpty())
        return ExitCode::NotConfigured;
    QString error;
    const QByteArray bytes = readMessage(options.classify, &error);
    const QString shown = options.classify == QLatin1String("-") ? QStringLiteral("standard input")
                                                                 : ConsoleOutput::plain(options.classify);
    if (!error.isEmpty()) {
        ConsoleOutput::error(QStringLiteral("\"%1\" could not be read: %2").arg(shown, error));
        return ExitCode::Failure;
    }
    QString why;
    const QByteArray header = MessageFiles::headerOf(bytes, &why);
    if (header.isEmpty()) {
        ConsoleOutput::error(QStringLiteral("%1 was not classified: %2.").arg(shown, why));
        return ExitCode::Failure;
    }
    Learner learner(rules, ProfileStore::learningName(profile));
    if (!learner.load(&error)) {
        ConsoleOutput::error(QStringLiteral("The lessons could not be read: ") + error);
        return ExitCode::Failure;
    }
    printVerdict(options, profile, learner.verdict(header), learner);
    return ExitCode::Done;
}
