#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// The command line front end: `trelvik --check`, `--history`, the rule file
// options. It parses before any application object exists, so that the
// window is started only when none of its options is given. The options
// themselves are declared in OptionTable.
namespace CommandLine {

struct Options {
    bool check = false;
    bool watch = false; // --watch of one IMAP profile
    bool del = false;
    bool json = false;
    bool history = false;
    bool quiet = false;
    bool all = false; // --check of every profile in turn; --reset-learning of all
    QString trustCertificate; // SHA-256 fingerprint, lower-case hex without separators
    int timeoutSeconds = 600; // --check ends by then, whatever the server does
    QString profile; // empty: the last used one
    QString importFile;
    QString exportFile;
    QString learnSpam; // --learn-spam: mbox, Maildir or .eml
    QString learnHam;
    QString classify; // --classify: a message file, or "-" for standard input
    QString sieveExport; // --sieve-export: the script's file
    bool sieveUpload = false; // the rules as a Sieve script on the profile's server
    bool sieveStatus = false;
    bool sieveRemove = false;
    bool sieveInclude = false; // --sieve-upload may add Trelvik's to another active script
    bool learnFromServer = false; // an IMAP profile's Junk folder and INBOX
    bool resetLearning = false; // forget a profile's lessons (--all: every one's)
};

// Whether the arguments ask for the command line rather than the window:
// any of its options (or --help, --version) is present.
bool wanted(int argc, char **argv);

// How the run takes the single-copy lock on the data folder. Busy when the
// window or another copy holds it; Failed (with *error) when it cannot be
// taken at all. The lock is held until the run returns.
enum class Lock { Held, Busy, Failed };
using LockTaker = std::function<Lock(QString *error)>;

// Runs on the QCoreApplication that exists already and returns the exit
// code (ExitCode.h). Never asks a question and never creates a widget.
int run(const QStringList &arguments, const LockTaker &takeLock);

// A word for an exit code, as --json names it: "not configured", ...
QString exitKind(int code);

// The text of --help.
QString helpText();

// Whether the window has nowhere to show: no platform chosen (neither
// QT_QPA_PLATFORM nor -platform) and neither DISPLAY nor WAYLAND_DISPLAY
// set. Then it says so, pointing to --check, instead of the toolkit's abort.
bool noDisplayForWindow(int argc, char **argv);

} // namespace CommandLine
