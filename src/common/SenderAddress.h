#pragma once

#include <QString>
#include <QStringView>

// The address of a "From:" value as the sender's mail program wrote it: the
// one in angle brackets when there is one, else the bare address; display
// names (quoted or not, encoded or not) and comments are not part of it. Of
// several addresses the first; of a group its first member. Empty when the
// value holds no address with an "@". An address with more than one "@"
// ("a@bank.example@spam.example") is kept whole: mail goes to the part after
// the last one. A NUL byte in the value is read as if it were not there.
QString SenderAddress(const QString &fromValue);

// Whether a character can be part of an address outside quotes: no white
// space, no bracket, quote or other delimiter of an address list.
bool IsAddressCharacter(QChar c);

// The domain of an address as mail routing takes it: everything after the
// last "@"; empty without one.
QString AddressDomain(const QString &address);

// Whether a domain has a label in another script, in either spelling
// (non-ASCII letters, or an IDNA label "xn--" in any case).
bool IsInternationalDomain(QStringView domain);

// A domain in the one form rules compare: every IDNA label ("xn--", in any
// case) turned to Unicode, lower case. Labels that are not valid IDNA, and
// wildcards, stay as written (in lower case).
QString DomainForm(QStringView domain);

// The same domain in its ASCII (IDNA) form, lower case, so that rules stored
// in that spelling are found too; empty when it has no such form (wildcards,
// characters no domain may hold) or is ASCII already.
QString AceDomainForm(QStringView domain);

// Why the address of a From value cannot be made into a rule: it has none,
// or it cannot be read with certainty (more than one "@" outside a quoted
// local part). Empty when it can.
QString UncertainAddressReason(const QString &fromValue);
