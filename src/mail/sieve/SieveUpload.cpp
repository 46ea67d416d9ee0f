#include "SieveUpload.h"

#include "ProfileRecord.h"
#include "SieveInclude.h"

#include <QCoreApplication>

namespace SieveUpload {

namespace {

const QString kName = QString::fromLatin1(SieveScript::kName);

Outcome failed(MailResult result, Refusal refusal = Refusal::None)
{
    Outcome o;
    o.result = std::move(result);
    o.refusal = refusal;
    return o;
}

Outcome refused(Refusal refusal, const QString &text, const QString &serverWords = {})
{
    return failed(MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"), text, serverWords), refusal);
}

bool listed(const Status &status, const QString &name)
{
    for (const SieveScriptEntry &e : status.scripts)
        if (e.name == name)
            return true;
    return false;
}

// The server's own words of a size refusal name the limit (Dovecot: "Script
// is too large (max 32 KiB)"); ours say how large the script is.
Outcome tooLarge(const SieveSession &session, const SieveAnswer &answer, qint64 bytes, int rules)
{
    const QString said = session.serverWords(answer);
    return refused(Refusal::TooLarge,
                   QStringLiteral("The server has no room for Trelvik's script: %1 bytes for %2 rules is over its "
                                  "limit.\r\n%3\r\nNothing was changed on the server; fewer rules make a smaller "
                                  "script.")
                       .arg(bytes)
                       .arg(rules)
                       .arg(said.isEmpty() ? QStringLiteral("The server did not say what its limit is.")
                                           : QStringLiteral("The server said: ") + said),
                   said);
}

bool isSizeRefusal(const SieveAnswer &answer)
{
    return answer.refused() && answer.status.code.startsWith("QUOTA");
}

// Uploads Trelvik's script (HAVESPACE first, so that a large one is not sent
// only to be refused).
std::optional<Outcome> putOurs(SieveSession &session, const SieveScript::Script &script)
{
    const QByteArray bytes = script.text.toUtf8();
    const int rules = script.exported;
    SieveAnswer answer = session.haveSpace(kName, bytes.size());
    if (isSizeRefusal(answer))
        return tooLarge(session, answer, bytes.size(), rules);
    if (!answer.ok() && !answer.refused())
        return failed(answer.failure);
    answer = session.putScript(kName, bytes);
    if (isSizeRefusal(answer))
        return tooLarge(session, answer, bytes.size(), rules);
    if (answer.refused())
        return refused(Refusal::Rejected,
                       QStringLiteral("The server refused Trelvik's script; nothing else was changed.\r\nThe server "
                                      "said: %1")
                           .arg(session.serverWords(answer)),
                       session.serverWords(answer));
    if (!answer.ok())
        return failed(answer.failure);
    return std::nullopt;
}

// Adds the include to the active script `name`: checked by the server, a
// copy kept, then the changed script under the same name.
std::optional<Outcome> includeIn(SieveSession &session, const Status &status, QStringList *steps)
{
    const QString name = status.active;
    QByteArray original;
    SieveAnswer answer = session.getScript(name, &original);
    if (!answer.ok())
        return failed(session.refusal(answer, QStringLiteral("The server did not give the script \"%1\".").arg(name)));
    const QByteArray changed = SieveInclude::add(original, kName);
    if (session.server().version.isEmpty()) {
        // A server before ManageSieve 1.0 has no CHECKSCRIPT; PUTSCRIPT checks.
    } else if (answer = session.checkScript(changed); !answer.ok()) {
        if (!answer.refused())
            return failed(answer.failure);
        return refused(Refusal::Rejected,
                       QStringLiteral("The server's check rejected the script \"%1\" with Trelvik's include added, so "
                                      "it was left as it was; Trelvik's script is on the server but does not run.\r\n"
                                      "The server said: %2")
                           .arg(name, session.serverWords(answer)),
                       session.serverWords(answer));
    }
    const QString backup = backupName(name);
    if (!listed(status, backup)) {
        if (answer = session.putScript(backup, original); !answer.ok())
            return failed(session.refusal(
                answer,
                QStringLiteral("The server did not keep a copy of \"%1\", so it was left as it was.").arg(name)));
        steps->append(QStringLiteral("kept a copy of \"%1\" as \"%2\"").arg(name, backup));
    }
    if (answer = session.putScript(name, changed); !answer.ok())
        return failed(session.refusal(answer, QStringLiteral("The server did not take the changed \"%1\".").arg(name)));
    steps->append(QStringLiteral("added include :personal \"%1\" at the top of \"%2\"").arg(kName, name));
    return std::nullopt;
}

Outcome finished(SieveSession &session, const SieveScript::Script &script, QStringList steps)
{
    Outcome o;
    o.result = status(session, script, &o.status);
    o.steps = std::move(steps);
    return o;
}

} // namespace

QString stateText(State state)
{
    switch (state) {
    case State::NoSieve:
        return QStringLiteral("no Sieve");
    case State::NotUploaded:
        return QStringLiteral("not uploaded");
    case State::UpToDate:
        return QStringLiteral("up to date");
    case State::OutOfDate:
        return QStringLiteral("out of date");
    case State::Edited:
        return QStringLiteral("edited on the server");
    }
    return {};
}

bool Status::running() const
{
    return (state == State::UpToDate || state == State::OutOfDate) && (active == kName || included);
}

SieveScript::Options scriptOptions(const ProfileSettingsRecord &settings, const QStringList &extensions)
{
    SieveScript::Options options;
    options.capabilities.extensions = extensions;
    const bool junk = settings.ImapEmptyAction.compare(QLatin1String("Junk"), Qt::CaseInsensitive) == 0;
    options.junkFolder = junk && !settings.ImapTargetFolder.trimmed().isEmpty() ? settings.ImapTargetFolder.trimmed()
                                                                                : QStringLiteral("Junk");
    options.programVersion = QCoreApplication::applicationVersion();
    return options;
}

QString backupName(const QString &script)
{
    return script + QStringLiteral(".before-trelvik");
}

MailResult status(SieveSession &session, const SieveScript::Script &script, Status *out)
{
    *out = {};
    SieveAnswer answer = session.listScripts(&out->scripts);
    if (!answer.ok())
        return session.refusal(answer, QStringLiteral("The server did not list its scripts."));
    for (const SieveScriptEntry &e : std::as_const(out->scripts))
        if (e.active)
            out->active = e.name;
    if (listed(*out, kName)) {
        QByteArray text;
        answer = session.getScript(kName, &text);
        if (!answer.ok())
            return session.refusal(answer, QStringLiteral("The server did not give the script \"%1\".").arg(kName));
        const SieveScript::Stamp stamp = SieveScript::read(QString::fromUtf8(text));
        out->state = !stamp.ours || !stamp.intact ? State::Edited
            : stamp.digest == script.digest       ? State::UpToDate
                                                  : State::OutOfDate;
    }
    if (!out->active.isEmpty() && out->active != kName) {
        QByteArray text;
        answer = session.getScript(out->active, &text);
        if (!answer.ok())
            return session.refusal(answer,
                                   QStringLiteral("The server did not give the script \"%1\".").arg(out->active));
        out->included = SieveInclude::has(text);
    }
    if (script.text.isEmpty() && out->state != State::Edited)
        out->state = State::NoSieve;
    return MailResult::done();
}

Outcome upload(SieveSession &session, const SieveScript::Script &script, const Request &request)
{
    if (script.text.isEmpty())
        return refused(Refusal::Rejected, script.error);
    Status now;
    if (MailResult r = status(session, script, &now); !r.ok())
        return failed(std::move(r));
    if (now.state == State::Edited)
        return refused(Refusal::Edited,
                       QStringLiteral("The script \"%1\" on the server is not the one Trelvik wrote (it was changed "
                                      "there, or made by someone else), so it was not replaced. Rename or delete it "
                                      "on the server, or copy what you changed into Trelvik's rules, and upload "
                                      "again.")
                           .arg(kName));
    // Decided before anything is sent: the user's active script is changed
    // only when asked.
    const bool other = !now.active.isEmpty() && now.active != kName;
    if (other && !now.included && !request.includeInActive)
        return refused(Refusal::OtherActive,
                       QStringLiteral("The script \"%1\" is active on the server and only one script runs, so "
                                      "Trelvik's rules would not run; nothing was changed. Trelvik can add "
                                      "include :personal \"%2\"; at its top (keeping a copy as \"%3\"), or add that "
                                      "line yourself.")
                           .arg(now.active, kName, backupName(now.active)));
    QStringList steps;
    if (now.state != State::UpToDate) {
        if (std::optional<Outcome> o = putOurs(session, script))
            return *o;
        steps.append(QStringLiteral("uploaded \"%1\" (%2 rules)").arg(kName).arg(script.exported));
    }
    if (now.active.isEmpty()) {
        if (SieveAnswer a = session.setActive(kName); !a.ok())
            return failed(session.refusal(a, QStringLiteral("The server did not activate \"%1\".").arg(kName)));
        steps.append(QStringLiteral("activated \"%1\"").arg(kName));
    } else if (other && !now.included) {
        if (std::optional<Outcome> o = includeIn(session, now, &steps))
            return *o;
    }
    return finished(session, script, steps);
}

Outcome remove(SieveSession &session)
{
    Status now;
    // Only the name and the stamp matter here: any digest will do.
    if (MailResult r = status(session, SieveScript::Script{QStringLiteral("-"), {}, {}, 0, {}}, &now); !r.ok())
        return failed(std::move(r));
    if (now.state == State::Edited)
        return refused(Refusal::Edited,
                       QStringLiteral("The script \"%1\" on the server is not the one Trelvik wrote, so it was not "
                                      "deleted.")
                           .arg(kName));
    const bool ours = listed(now, kName);
    if (!ours && !now.included)
        return refused(Refusal::NothingThere,
                       QStringLiteral("Trelvik's script is not on the server; nothing was changed."));
    QStringList steps;
    SieveAnswer a;
    if (now.included) {
        // Out of the active script first: an include of a missing script
        // would stop the user's own filters at the next delivery.
        QByteArray text;
        if (a = session.getScript(now.active, &text); !a.ok())
            return failed(session.refusal(a, QStringLiteral("The server did not give \"%1\".").arg(now.active)));
        const std::optional<QByteArray> without = SieveInclude::remove(text);
        if (!without)
            return refused(Refusal::Edited,
                           QStringLiteral("Trelvik's lines in \"%1\" were changed, so the script "
                                          "was left as it is.")
                               .arg(now.active));
        const QByteArray restored = *without;
        if (a = session.putScript(now.active, restored); !a.ok())
            return failed(session.refusal(a,
                                          QStringLiteral("The server did not take \"%1\" back without Trelvik's "
                                                         "include.")
                                              .arg(now.active)));
        steps.append(QStringLiteral("took Trelvik's include out of \"%1\"").arg(now.active));
        // The copy goes only when it says what the script says again.
        const QString backup = backupName(now.active);
        QByteArray copy;
        if (listed(now, backup) && session.getScript(backup, &copy).ok() && copy == restored
            && session.deleteScript(backup).ok())
            steps.append(QStringLiteral("deleted the copy \"%1\"").arg(backup));
    }
    if (now.active == kName) {
        if (a = session.setActive(QString()); !a.ok())
            return failed(session.refusal(a, QStringLiteral("The server did not deactivate \"%1\".").arg(kName)));
        steps.append(QStringLiteral("deactivated \"%1\"").arg(kName));
    }
    if (ours) {
        if (a = session.deleteScript(kName); !a.ok())
            return failed(session.refusal(a, QStringLiteral("The server did not delete \"%1\".").arg(kName)));
        steps.append(QStringLiteral("deleted \"%1\"").arg(kName));
    }
    Outcome o;
    o.steps = steps;
    o.result = status(session, SieveScript::Script{QStringLiteral("-"), {}, {}, 0, {}}, &o.status);
    return o;
}

} // namespace SieveUpload
