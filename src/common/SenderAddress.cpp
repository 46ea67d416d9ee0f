#include "SenderAddress.h"

#include "GMimeInit.h"

#include <QUrl>

#include <gmime/gmime.h>

namespace {

// The first mailbox of a list, looking into groups ("Re: Offer <a@b>" reads
// as a group named "Re" to the parser, and real spam writes it so).
InternetAddressMailbox *firstMailbox(InternetAddressList *list)
{
    const int count = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < count; ++i) {
        InternetAddress *address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            return INTERNET_ADDRESS_MAILBOX(address);
        if (INTERNET_ADDRESS_IS_GROUP(address)) {
            if (InternetAddressMailbox *member =
                    firstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address))))
                return member;
        }
    }
    return nullptr;
}

// A value of address characters only, and no "=" (perhaps an encoded word),
// is a bare address.
bool isPlainAddress(const QString &value)
{
    for (const QChar c : value) {
        if (!IsAddressCharacter(c) || c == u'=')
            return false;
    }
    return true;
}

// An address needs a local part and a domain; a domain with quotes or white
// space is a display name the parser took for an address.
bool isAddress(const QString &address)
{
    const qsizetype at = address.lastIndexOf(u'@');
    if (at <= 0 || at == address.size() - 1)
        return false;
    for (qsizetype i = at + 1; i < address.size(); ++i) {
        const QChar c = address.at(i);
        if (c.isSpace() || c == u'"' || c == u'<' || c == u'>' || c == u'(' || c == u')' || c == u',')
            return false;
    }
    return true;
}

// A character of a dot-atom as nearly every address is written; the rest of
// what an address may hold is left to the parser.
bool isPlainAtomCharacter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_'
        || c == u'+' || c == u'=';
}

// "local@domain" as dot-atoms of plain characters, one "@", and no IDNA
// label (which the parser would give back in Unicode).
bool isPlainDotAtomAddress(QStringView address)
{
    qsizetype at = -1;
    char16_t previous = u'.';
    for (qsizetype i = 0; i < address.size(); ++i) {
        const char16_t c = address.at(i).unicode();
        if (c == u'@' || c == u'.') {
            if (previous == u'.' || previous == u'@' || (c == u'@' && at >= 0))
                return false;
            if (c == u'@')
                at = i;
        } else if (!isPlainAtomCharacter(c)) {
            return false;
        }
        previous = c;
    }
    return at > 0 && previous != u'.' && previous != u'@'
        && !address.sliced(at + 1).contains(u"xn--", Qt::CaseInsensitive);
}

// The address of "Name <local@domain>", the form nearly every sender writes,
// read without the parser: the brackets hold it, as the parser reads it too.
// Empty for anything the parser could read otherwise (quotes, comments,
// groups, several addresses, an "@" in the name, a rarer address).
QString bracketedAddress(const QString &value)
{
    if (!value.endsWith(u'>'))
        return {};
    const qsizetype open = value.indexOf(u'<');
    if (open < 0)
        return {};
    for (const QChar c : QStringView(value).first(open)) {
        switch (c.unicode()) {
        case '"':
        case '(':
        case ')':
        case ',':
        case ';':
        case ':':
        case '@':
        case '\\':
        case '[':
        case ']':
        case '>':
            return {};
        default:
            break;
        }
    }
    const QStringView address = QStringView(value).sliced(open + 1, value.size() - open - 2);
    return isPlainDotAtomAddress(address) ? address.toString() : QString();
}

} // namespace

bool IsAddressCharacter(QChar c)
{
    if (c.isSpace())
        return false;
    switch (c.unicode()) {
    case '<':
    case '>':
    case '(':
    case ')':
    case '"':
    case ',':
    case ';':
    case ':':
    case '\\':
    case '[':
    case ']':
        return false;
    default:
        return true;
    }
}

QString SenderAddress(const QString &fromValue)
{
    QString value = fromValue.trimmed();
    // A NUL belongs to no address, and the parser reads a C string that
    // would end there: taken out, it hides nothing that follows it
    // ("boss@work.example<NUL> <win@spam.example>" is win@spam.example's).
    if (value.contains(QChar(u'\0')))
        value = value.remove(QChar(u'\0')).trimmed();
    if (value.isEmpty())
        return {};
    // The usual bare address needs no parser.
    // "a@b@c" is kept whole: routing takes the domain after the last "@".
    if (isPlainAddress(value))
        return isAddress(value) ? value : QString();
    if (QString address = bracketedAddress(value); !address.isEmpty())
        return address;
    ensureGMimeInitialised();
    InternetAddressList *list = internet_address_list_parse(nullptr, value.toUtf8().constData());
    QString address;
    if (InternetAddressMailbox *mailbox = firstMailbox(list)) {
        address = QString::fromUtf8(internet_address_mailbox_get_addr(mailbox));
        // The parser stops at a second "@" ("<a@bank.example@spam.example>"
        // gives "a@bank.example"); the written address runs on to its end.
        if (value.count(u'@') > 1) {
            const QString written = QString::fromUtf8(internet_address_mailbox_get_idn_addr(mailbox));
            for (const QString &form : {address, written}) {
                const qsizetype at = form.isEmpty() ? -1 : value.indexOf(form + u'@', 0, Qt::CaseInsensitive);
                if (at < 0)
                    continue;
                qsizetype end = at + form.size();
                while (end < value.size() && IsAddressCharacter(value.at(end)))
                    ++end;
                address = value.mid(at, end - at);
                break;
            }
        }
        if (!isAddress(address))
            address.clear();
    }
    if (list)
        g_object_unref(list);
    return address;
}

QString AddressDomain(const QString &address)
{
    const qsizetype at = address.lastIndexOf(u'@');
    return at < 0 ? QString() : address.mid(at + 1);
}

bool IsInternationalDomain(QStringView domain)
{
    for (qsizetype i = 0; i < domain.size(); ++i) {
        const char16_t c = domain.at(i).unicode();
        if (c >= 0x80)
            return true;
        if ((c == u'x' || c == u'X') && i + 3 < domain.size() && (i == 0 || domain.at(i - 1) == u'.')
            && domain.mid(i, 4).compare(u"xn--", Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString DomainForm(QStringView domain)
{
    // Most domains are plain ASCII without an IDNA label: lower case is all.
    if (!IsInternationalDomain(domain))
        return domain.toString().toLower();
    QStringList labels;
    for (const QStringView label : domain.split(u'.')) {
        QString shown = label.toString().toLower();
        if (shown.startsWith(u"xn--")) {
            const QString unicode = QUrl::fromAce(shown.toLatin1(), QUrl::IgnoreIDNWhitelist);
            if (!unicode.isEmpty())
                shown = unicode.toLower();
        }
        labels.append(shown);
    }
    return labels.join(u'.');
}

QString AceDomainForm(QStringView domain)
{
    const QString unicode = DomainForm(domain);
    bool ascii = true;
    for (const QChar c : unicode) {
        if (c == u'*' || c == u'?')
            return {};
        ascii = ascii && c.unicode() < 0x80;
    }
    if (ascii)
        return {};
    return QString::fromLatin1(QUrl::toAce(unicode, QUrl::IgnoreIDNWhitelist)).toLower();
}

QString UncertainAddressReason(const QString &fromValue)
{
    const QString address = SenderAddress(fromValue);
    if (address.isEmpty())
        return QStringLiteral("it holds no address with a domain");
    // "@" is an ordinary character only inside a quoted local part.
    bool quoted = false;
    int ats = 0;
    for (const QChar c : address) {
        if (c == u'"')
            quoted = !quoted;
        else if (c == u'@' && !quoted)
            ++ats;
    }
    if (ats != 1)
        return QStringLiteral("its address \"%1\" holds more than one \"@\", so whose it is cannot be told")
            .arg(address);
    return {};
}
