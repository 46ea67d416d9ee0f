#include "LoginReplies.h"

namespace {

constexpr qsizetype kQuotedMax = 200;

// The bracketed response code right after the status, upper case; empty
// when there is none.
QString responseCode(const QString &reply)
{
    const qsizetype space = reply.indexOf(QLatin1Char(' '));
    if (space < 0 || reply.mid(space + 1, 1) != QLatin1String("["))
        return {};
    const qsizetype close = reply.indexOf(QLatin1Char(']'), space + 2);
    if (close < 0)
        return {};
    return reply.mid(space + 2, close - space - 2).trimmed().toUpper();
}

// Codes are hierarchical ("SYS/TEMP/…" is a "SYS/TEMP").
bool isCode(const QString &code, const QLatin1String &name)
{
    return code == name || code.startsWith(name + QLatin1Char('/'));
}

} // namespace

QString replyText(const QString &reply, const QString &password)
{
    QString text = reply.section(QStringLiteral("\r\n"), 0, 0);
    const qsizetype space = text.indexOf(QLatin1Char(' '));
    text = space < 0 ? QString() : text.mid(space + 1);
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close >= 0)
            text = text.mid(close + 1);
    }
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    if (!password.isEmpty())
        text.replace(password, QStringLiteral("***"));
    text = text.trimmed();
    if (text.size() > kQuotedMax)
        text = text.left(kQuotedMax) + QStringLiteral("...");
    if (!password.isEmpty())
        text.replace(password, QStringLiteral("***")); // also a cut that made one
    return text;
}

LoginRefusal loginRefusal(const QString &reply, const QString &password)
{
    const QString title = QStringLiteral("Connection Failed");
    const QString code = responseCode(reply);
    QString said = replyText(reply, password);
    said = said.isEmpty() ? QString() : QStringLiteral("\r\nThe server said: ") + said;
    if (isCode(code, QLatin1String("IN-USE")))
        return {QStringLiteral("The mailbox is in use by another mail program, so the server refused the login.") + said
                    + QStringLiteral("\r\nPlease try again later."),
                title};
    if (isCode(code, QLatin1String("LOGIN-DELAY")))
        return {QStringLiteral("The server allows logins only every so often and refused this one.") + said
                    + QStringLiteral("\r\nPlease try again later."),
                title};
    if (isCode(code, QLatin1String("SYS/TEMP")))
        return {QStringLiteral("The server has a temporary problem and could not log you in.") + said
                    + QStringLiteral("\r\nPlease try again later."),
                title};
    if (isCode(code, QLatin1String("SYS/PERM")))
        return {QStringLiteral("The server has a problem and could not log you in.") + said, title};
    return {QStringLiteral("Invalid Email UserID or Password"), title, MailReason::SettingsWrong};
}

QByteArray saslPlainResponse(const QString &user, const QString &password)
{
    QByteArray message;
    message += '\0';
    message += user.toUtf8();
    message += '\0';
    message += password.toUtf8();
    return message.toBase64();
}
