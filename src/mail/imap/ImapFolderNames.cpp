#include "ImapFolderNames.h"

QList<QByteArray> ImapFolderNames::usual(const QByteArray &specialUse)
{
    if (specialUse.compare("\\Trash", Qt::CaseInsensitive) == 0)
        return {"Trash", "Deleted Items", "Deleted Messages", "[Gmail]/Trash", "[Google Mail]/Trash"};
    if (specialUse.compare("\\Archive", Qt::CaseInsensitive) == 0)
        return {"Archive", "Archives"};
    return {"Junk", "Spam", "Junk Email", "Junk E-mail", "[Gmail]/Spam", "[Google Mail]/Spam"};
}

bool ImapFolderNames::named(const QByteArray &name, const QByteArray &usual)
{
    if (name.compare(usual, Qt::CaseInsensitive) == 0)
        return true;
    return name.size() == usual.size() + 6 && name.left(5).compare("INBOX", Qt::CaseInsensitive) == 0
        && (name.at(5) == '.' || name.at(5) == '/') && name.mid(6).compare(usual, Qt::CaseInsensitive) == 0;
}
