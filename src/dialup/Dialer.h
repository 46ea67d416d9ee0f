#pragma once

#include <QString>

#include <memory>

namespace Global { struct ProfileSettingsRecord; class CancelFlag; }

// Dial-up before a run and hang-up after it. DialUp waits (without blocking
// the event loop) until the connection is up, has failed, was cancelled or the
// time limit passed, and leaves the result code in RasResult (0 = success).
class Dialer {
public:
    virtual ~Dialer() = default;
    virtual void DialUp(const Global::ProfileSettingsRecord &settings, Global::CancelFlag &cancel) = 0;
    virtual void HangUp() = 0;

    qint32 RasResult = 0;
    quint64 RasConnection = 0;
};

// "<code>: <text>" for a dial-up result code.
QString RasErrorText(qint32 code);

// The dialer of this system (NetworkManager over D-Bus).
std::unique_ptr<Dialer> createSystemDialer();
