#pragma once

// The command line's exit codes. Scripts and the systemd timer rely on them:
// never renumber.
namespace ExitCode {
inline constexpr int Done = 0;
inline constexpr int Failure = 1; // rule database, file I/O, anything else
inline constexpr int Usage = 2;
inline constexpr int NotConfigured = 3; // unknown profile, no profile, missing password
inline constexpr int ConnectionFailed = 4; // connection, certificate, login, OAuth2 sign-in
inline constexpr int PartlyDeleted = 5;
inline constexpr int Busy = 6; // the window or another copy holds the data folder
} // namespace ExitCode
