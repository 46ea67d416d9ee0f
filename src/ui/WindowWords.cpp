#include "WindowWords.h"

namespace WindowWords {

namespace {

QString advice(MailReason reason, const QString &server)
{
    switch (reason) {
    case MailReason::None:
        break;
    case MailReason::NotConfigured:
        return QStringLiteral("Press the Setting button beside the profile box and fill in the %1, user ID and "
                              "password.")
            .arg(server);
    case MailReason::SettingsWrong:
        return QStringLiteral("Correct them with the Setting button beside the profile box.");
    case MailReason::SignInAgain:
        return QStringLiteral("Sign in again: open the Settings and press \"Sign in...\".");
    }
    return {};
}

} // namespace

QString text(const QString &facts, MailReason reason, const QString &server)
{
    return withAdvice(facts, advice(reason, server));
}

} // namespace WindowWords
