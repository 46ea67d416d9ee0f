#pragma once

#include <QString>

#include <memory>

struct ProfileSettingsRecord;
class CancelFlag;

// Dial-up result codes this system gives. They are the dial-up service's own
// error numbers, so RasErrorText() has a text for each (or the generic one).
namespace DialResultCode {
inline constexpr qint32 Success = 0;
inline constexpr qint32 PortAlreadyOpen = 602; // a dial is already under way
inline constexpr qint32 RemoteDisconnection = 629;
inline constexpr qint32 UserDisconnection = 631; // cancelled, or disconnected by someone else
inline constexpr qint32 InvalidSize = 632; // a value too long, or one that cannot be passed on
inline constexpr qint32 PortNotAvailable = 633; // no modem
inline constexpr qint32 RequestTimeout = 638;
inline constexpr qint32 DeviceError = 651; // any other failure ("Unable To Connect")
inline constexpr qint32 LineBusy = 676;
inline constexpr qint32 NoAnswer = 678;
inline constexpr qint32 NoCarrier = 679;
inline constexpr qint32 NoDialtone = 680;
inline constexpr qint32 AuthenticationFailure = 691;
inline constexpr qint32 ServiceNotAvailable = 711; // NetworkManager is not running
} // namespace DialResultCode

// The longest values a dial accepts (the settings dialog limits its fields to
// the same lengths); longer ones are refused with DialResultCode::InvalidSize.
inline constexpr int kMaxDialupNumberLength = 128;
inline constexpr int kMaxDialupCredentialLength = 256; // user ID and password

// Dial-up before a run and hang-up after it. DialUp waits (without blocking
// the event loop) until the connection is up, has failed, was cancelled or the
// time limit passed, and leaves the result code in RasResult (0 = success).
// A raised cancel flag ends the wait: whatever was set up is taken down again
// and RasResult is DialResultCode::UserDisconnection.
class Dialer {
public:
    virtual ~Dialer() = default;
    virtual void DialUp(const ProfileSettingsRecord &settings, CancelFlag &cancel) = 0;
    virtual void HangUp() = 0;

    qint32 RasResult = 0;
    quint64 RasConnection = 0;
};

// "<code>: <text>" for a dial-up result code.
QString RasErrorText(qint32 code);

// The dialer of this system (NetworkManager over D-Bus).
std::unique_ptr<Dialer> createSystemDialer();
