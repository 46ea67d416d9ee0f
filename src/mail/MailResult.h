#pragma once

#include "MailReason.h"

#include <QString>

// How a fetch, a deletion, or one step of a session (connect, log in) ended.
enum class MailOutcome {
    Done,
    NotConfigured, // a value of the profile is missing or unusable
    ConnectionFailed, // connect, securing, login, or the connection lost
    Cancelled,
    Failed // anything else (a rule lookup that failed, a bad port)
};

// What the mail layer reports instead of showing it. The window shows a
// failure as a box with this title and text and the critical icon; the
// command line prints it as one line and maps the kind to its exit code.
// Where the user's remedy lies in a front end (its buttons or options) the
// text holds the facts only and `reason` says which remedy; each front end
// words it (WindowWords, ConsoleWords). A failure with an empty text has
// nothing to tell (a Cancel, or one that was told already).
struct [[nodiscard]] MailResult {
    MailOutcome kind = MailOutcome::Done;
    QString title;
    // The user's text, lines parted by CR LF, the server's words included.
    QString text;
    // What the server answered, when its answer is the reason; empty else.
    QString serverWords;
    MailReason reason = MailReason::None;
    // NotConfigured: what the profile's server is called ("POP server").
    QString protocolServer = {};

    bool ok() const { return kind == MailOutcome::Done; }
    bool hasMessage() const { return !text.isEmpty(); }

    static MailResult done() { return {}; }
    static MailResult cancelled() { return {MailOutcome::Cancelled, {}, {}, {}}; }
    static MailResult failure(MailOutcome kind, QString title, QString text, QString serverWords = {})
    {
        return {kind, std::move(title), std::move(text), std::move(serverWords)};
    }
    // The same result, with the remedy a front end words.
    MailResult advising(MailReason why, QString server = {}) const
    {
        MailResult advised = *this;
        advised.reason = why;
        advised.protocolServer = std::move(server);
        return advised;
    }
};
