#pragma once

#include <QString>
#include <QStringList>

// What a Sieve server says it can do: the extensions of its SIEVE
// capability (lower case).
struct SieveCapabilities {
    QStringList extensions;

    // Asked for every rule: the exact spelling first, which servers use.
    bool has(QStringView extension) const
    {
        return extensions.contains(extension) || extensions.contains(extension, Qt::CaseInsensitive);
    }
    // What Dovecot's Pigeonhole announces, for a script made without asking
    // a server.
    static SieveCapabilities typical();
};

// One rule value as Sieve tests that find exactly the messages the rule
// lists find, or the reason there are none. A test is never broader than
// the rule: where the server's engine cannot say the same thing, the rule
// is left out.
namespace SieveRuleMapping {

// Where a test stands in the script: the tests of "${sender}", the address
// of the first From line as the rule lists read it (the script sets it
// before the lists), or on their own.
enum class Place { Sender, Anywhere };

struct Test {
    Place place;
    QString text;
};

struct Mapping {
    QList<Test> tests;
    QString reason; // why the rule is left out; empty when it is exported
    QStringList extensions; // the extensions its tests need
};

Mapping map(const QString &value, const SieveCapabilities &capabilities);

// A Sieve quoted string.
QString quoted(QStringView text);
// A list of quoted strings, or one quoted string when it is one.
QString quotedList(const QStringList &texts);

} // namespace SieveRuleMapping
