#include "ServerRules.h"

#include "CancelFlag.h"
#include "MailConnection.h"
#include "ProfileRecord.h"
#include "SieveInclude.h"
#include "SieveSession.h"


namespace ServerRules {

namespace {

const QString kName = QString::fromLatin1(SieveScript::kName);

SieveUpload::Outcome act(Action action, SieveSession &session, const SieveScript::Script &script)
{
    switch (action) {
    case Action::Upload:
    case Action::UploadWithInclude:
        return SieveUpload::upload(session, script, {action == Action::UploadWithInclude});
    case Action::Remove:
        return SieveUpload::remove(session);
    case Action::Status:
        break;
    }
    SieveUpload::Outcome o;
    o.result = SieveUpload::status(session, script, &o.status);
    return o;
}

// The user's own active script, when Trelvik's rules are not part of it:
// the include offered is shown against its text.
void readActive(SieveSession &session, Report &r)
{
    const SieveUpload::Status &s = r.outcome.status;
    if (!r.outcome.result.ok() || s.active.isEmpty() || s.active == kName || s.included)
        return;
    QByteArray text;
    const SieveAnswer answer = session.getScript(s.active, &text);
    if (answer.ok())
        r.activeText = QString::fromUtf8(text);
    else
        r.outcome.result = session.refusal(answer,
                                           QStringLiteral("The server did not give the script \"%1\".").arg(s.active));
}

QStringList linesOf(const QString &text)
{
    QStringList lines = text.split(u'\n');
    if (text.endsWith(u'\n'))
        lines.removeLast();
    for (QString &line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1); // shown, not sent: a CR would show as a stray mark
    return lines;
}

} // namespace

SieveScript::Options scriptOptions(const ProfileSettingsRecord &settings, const QStringList &extensions,
                                   const QDateTime &made)
{
    SieveScript::Options options = SieveUpload::scriptOptions(settings, extensions);
    options.made = made;
    return options;
}

Report run(Action action, const MailRun::Target &target, const QStringList &filter, const QStringList &exempted,
           const Seams &seams)
{
    Report r;
    const SieveSrvLookup srv = seams.srv ? seams.srv : [](const QString &domain) { return lookUpSieveSrv(domain); };
    const SieveEndpoint endpoint = sieveEndpoint(target.settings, srv);
    if (!endpoint.error.isEmpty()) {
        r.result = MailResult::failure(MailOutcome::NotConfigured, QStringLiteral("Error"), endpoint.error);
        return r;
    }
    r.server = QStringLiteral("%1:%2").arg(endpoint.host).arg(endpoint.port);
    SessionOptions options = MailRun::sessionOptions(target);
    if (target.settings.usesOAuth2() && !target.person.readyToSignIn(options.accessToken)) {
        r.result = MailResult::failure(MailOutcome::ConnectionFailed, {}, {}); // told already
        return r;
    }
    const auto session = seams.connection
        ? std::make_unique<SieveSession>(seams.connection(), target.settings, endpoint, target.cancel, options)
        : std::make_unique<SieveSession>(target.settings, endpoint, target.cancel, options);
    r.result = session->connectServer();
    if (r.result.ok())
        r.result = session->login();
    if (!r.result.ok())
        return r;
    r.reached = true;
    r.extensions = session->server().sieveExtensions;
    r.script = SieveScript::generate(filter, exempted, scriptOptions(target.settings, r.extensions, seams.made));
    r.outcome = act(action, *session, r.script);
    readActive(*session, r);
    r.result = r.outcome.result;
    session->logout();
    return r;
}

QString includeChange(const QString &script)
{
    const QStringList before = linesOf(script);
    const QStringList after = linesOf(QString::fromUtf8(SieveInclude::add(script.toUtf8(), kName)));
    qsizetype same = 0;
    while (same < before.size() && same < after.size() && before.at(same) == after.at(same))
        ++same;
    qsizetype tail = 0;
    while (tail < before.size() - same && tail < after.size() - same
           && before.at(before.size() - 1 - tail) == after.at(after.size() - 1 - tail))
        ++tail;
    QStringList shown;
    if (same > 0)
        shown << QStringLiteral("  ") + before.at(same - 1);
    for (qsizetype i = same; i < after.size() - tail; ++i)
        shown << QStringLiteral("+ ") + after.at(i);
    return shown.join(u'\n');
}

} // namespace ServerRules
