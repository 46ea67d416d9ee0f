#pragma once

#include <QString>

// What the user can do about a failure, where the front ends say it apart:
// the window names its buttons, the command line what to run instead. The
// facts stay in the failure's text; each front end adds its own advice.
enum class MailReason {
    None, // the text says it all
    NotConfigured, // fill in the server (named apart), user ID and password
    SettingsWrong, // the server refused the user ID or password
    SignInAgain, // the OAuth2 sign-in is gone: only a new one in the browser helps
};

// The facts and a front end's advice, as lines of one text.
inline QString withAdvice(const QString &facts, const QString &advice)
{
    if (advice.isEmpty() || facts.isEmpty())
        return facts + advice;
    return facts + QStringLiteral("\r\n") + advice;
}
