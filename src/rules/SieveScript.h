#pragma once

#include "SieveRuleMapping.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// Both rule lists as one Sieve script (RFC 5228) for the server to run on
// every delivery: the exempted list first (a match keeps the message and
// ends the script), then the filter list (a match files it into the Junk
// folder and ends the script; nothing is ever discarded). Rules the
// server's engine cannot express with the same meaning are left out and
// listed with the reason.
namespace SieveScript {

// The name the script has on the server.
inline constexpr const char *kName = "trelvik";
// Raised when what the script says changes.
inline constexpr int kGeneratorVersion = 2;

struct Options {
    SieveCapabilities capabilities = SieveCapabilities::typical();
    QString junkFolder = QStringLiteral("Junk");
    QString programVersion; // Trelvik's, for the header comment
    QDateTime made; // when; the current time when not valid
};

struct LeftOut {
    QString list; // "filter" or "exempted"
    QString rule;
    QString reason;
};

struct Script {
    QString text; // empty with `error` when there can be none
    QString error;
    QString digest; // of everything below the header comment
    int exported = 0;
    QList<LeftOut> leftOut;
};

Script generate(const QStringList &filter, const QStringList &exempted, const Options &options);

// What a script's header comment says of it.
struct Stamp {
    bool ours = false; // it carries Trelvik's header comment
    bool intact = false; // and nothing below it changed since
    QString digest;
};
Stamp read(const QString &text);

} // namespace SieveScript
