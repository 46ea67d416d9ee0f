#pragma once

#include "CommandLine.h"
#include "ConsolePerson.h"
#include "ConsoleStatus.h"
#include "MailRun.h"
#include "ProfileRecord.h"

#include <memory>

class CancelFlag;
class Dialer;

// What a command needs to run the mail code on one profile: the profile's
// settings, the console standing in for the user, a dialer and the target
// made of them. The members refer to each other: it stays where it is made.
class ProfileRun {
public:
    // A check or a lesson from the server dials where the profile says so;
    // a watch waits for the network, and rules on the server ride on a check's.
    enum class Dialing { AsProfileSays, Never };

    ProfileRun(const CommandLine::Options &options, const QString &profile, CancelFlag &cancel, Dialing dialing,
               bool showStatus);
    ~ProfileRun();
    ProfileRun(const ProfileRun &) = delete;
    ProfileRun &operator=(const ProfileRun &) = delete;

    // The profile named on the command line, else the one used last, in its
    // stored spelling; empty (with the reason told) when there is none.
    static QString chooseProfile(const CommandLine::Options &options);

    // The exit code of an outcome. A cancelled run fails; each command says
    // in its own words what a cancel kept.
    static int exitCodeFor(MailOutcome outcome);

    // For a command that opens its own session: the session's options once
    // the profile is ready and, with OAuth2, signed in. Done, or the exit code.
    int prepareSession(SessionOptions *session);

    const MailRun::Target &target() const { return m_target; }

    ProfileSettingsRecord settings;
    ConsoleStatus status;
    ConsolePerson person;

private:
    std::unique_ptr<Dialer> m_dialer;
    const MailRun::Target m_target;
};
