#include "SenderAddress.h"

#include "GMimeInit.h"

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

// Characters that make a value more than a bare address.
bool isPlainAddress(const QString &value)
{
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '<': case '>': case '(': case ')': case '"': case ',': case ';': case ':': case '\\':
        case ' ': case '\t': case '\r': case '\n': case '[':
            return false;
        default:
            break;
        }
        if (c == u'=')
            return false; // perhaps an encoded word
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

} // namespace

QString SenderAddress(const QString &fromValue)
{
    const QString value = fromValue.trimmed();
    if (value.isEmpty())
        return {};
    // The usual bare address needs no parser.
    if (isPlainAddress(value)) {
        // "a@b@c" reads as the parser reads it: up to the second "@".
        const qsizetype at = value.indexOf(u'@');
        const qsizetype second = at < 0 ? -1 : value.indexOf(u'@', at + 1);
        const QString address = second < 0 ? value : value.left(second);
        return isAddress(address) ? address : QString();
    }
    ensureGMimeInitialised();
    InternetAddressList *list = internet_address_list_parse(nullptr, value.toUtf8().constData());
    QString address;
    if (InternetAddressMailbox *mailbox = firstMailbox(list)) {
        address = QString::fromUtf8(internet_address_mailbox_get_addr(mailbox));
        if (!isAddress(address))
            address.clear();
    }
    if (list)
        g_object_unref(list);
    return address;
}
