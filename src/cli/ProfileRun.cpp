#include "ProfileRun.h"

#include "ConsoleOutput.h"
#include "Dialer.h"
#include "ExitCode.h"
#include "Profile.h"
#include "ProfileStore.h"

namespace {

// The system's dialer, made only when a profile dials.
class DialerOnDemand : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &settings, CancelFlag &cancel) override
    {
        if (!m_dialer)
            m_dialer = createSystemDialer();
        m_dialer->DialUp(settings, cancel);
        RasResult = m_dialer->RasResult;
    }
    void HangUp() override
    {
        if (m_dialer)
            m_dialer->HangUp();
        RasResult = 0;
    }

private:
    std::unique_ptr<Dialer> m_dialer;
};

class NoDialer : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &, CancelFlag &) override { RasResult = 0; }
    void HangUp() override { }
};

std::unique_ptr<Dialer> dialerFor(ProfileRun::Dialing dialing)
{
    if (dialing == ProfileRun::Dialing::Never)
        return std::make_unique<NoDialer>();
    return std::make_unique<DialerOnDemand>();
}

} // namespace

ProfileRun::ProfileRun(const CommandLine::Options &options, const QString &profile, CancelFlag &cancel, Dialing dialing,
                       bool showStatus)
    : settings(ReadProfile(profile))
    , status(showStatus)
    , person(options, profile, status)
    , m_dialer(dialerFor(dialing))
    , m_target{settings, profile, cancel, *m_dialer, person}
{
}

ProfileRun::~ProfileRun() = default;

QString ProfileRun::chooseProfile(const CommandLine::Options &options)
{
    const QString wanted = options.profile.isEmpty() ? ProfileStore().lastProfile() : options.profile;
    const QStringList names = ProfileNames();
    for (const QString &name : names) {
        if (!wanted.isEmpty() && name.compare(wanted, Qt::CaseInsensitive) == 0)
            return name;
    }
    const QString known = names.isEmpty() ? QStringLiteral("there are none yet; make one in the window")
                                          : QStringLiteral("known: ") + names.join(QStringLiteral(", "));
    if (wanted.isEmpty())
        ConsoleOutput::error(QStringLiteral("No profile was given and none was used last; name one with "
                                            "--profile (%1).")
                                 .arg(ConsoleOutput::plain(known)));
    else
        ConsoleOutput::error(QStringLiteral("There is no profile \"%1\" (%2).")
                                 .arg(ConsoleOutput::plain(wanted), ConsoleOutput::plain(known)));
    return QString();
}

int ProfileRun::exitCodeFor(MailOutcome outcome)
{
    switch (outcome) {
    case MailOutcome::Done:
        return ExitCode::Done;
    case MailOutcome::NotConfigured:
        return ExitCode::NotConfigured;
    case MailOutcome::ConnectionFailed:
        return ExitCode::ConnectionFailed;
    case MailOutcome::Cancelled:
    case MailOutcome::Failed:
        break;
    }
    return ExitCode::Failure;
}

int ProfileRun::prepareSession(SessionOptions *session)
{
    if (MailRun::ready(m_target) != MailOutcome::Done)
        return ExitCode::NotConfigured;
    *session = MailRun::sessionOptions(m_target);
    if (settings.usesOAuth2() && !person.readyToSignIn(session->accessToken))
        return ExitCode::ConnectionFailed;
    return ExitCode::Done;
}
