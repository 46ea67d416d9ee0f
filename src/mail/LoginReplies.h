#pragma once

#include "MailReason.h"

#include <QByteArray>
#include <QString>

// What a refused login reply means for the user. Response codes in brackets
// after "-ERR" say whether the password was wrong ([AUTH], or no code), the
// mailbox is busy or logins are rationed ([IN-USE], [LOGIN-DELAY]), or the
// server has trouble of its own ([SYS/TEMP], [SYS/PERM]).
struct LoginRefusal {
    QString text;
    QString title;
    // SettingsWrong for a refused password (the front end says where to
    // correct it); None when the server's trouble is the reason.
    MailReason reason = MailReason::None;
};
// The server's words are quoted with every occurrence of the password
// blanked, so that an echoing server cannot put it on the screen.
LoginRefusal loginRefusal(const QString &reply, const QString &password);

// The server's text of a reply without its status and response code, cut to
// one short line, with the password blanked.
QString replyText(const QString &reply, const QString &password);

// The base64 SASL PLAIN response for these credentials (no authorisation id).
QByteArray saslPlainResponse(const QString &user, const QString &password);
