#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class CurrentProfile;
class QAction;
class RuleLists;
namespace ServerRules {
struct Report;
}

// Whether the server's copy of the current profile's rules still says what
// the rules say, told in the status line after every rule change. What the
// server holds is remembered from the last conversation with it (the
// digest of the script it runs, and the extensions its engine offered), so
// the check itself never goes to the network.
class ServerRulesNote : public QObject {
    Q_OBJECT
public:
    static const QString kOutOfDateText;

    // `show` gets the note, or an empty text when there is none to give.
    ServerRulesNote(RuleLists &rules, CurrentProfile &profile, std::function<void(const QString &)> show,
                    QObject *parent);

    // Rules may have changed once the action's own handlers have run.
    void watch(QAction *action);
    // What a finished conversation found on the server; a write that failed
    // is returned as the reason (for the user).
    QString remember(const QString &profile, const ServerRules::Report &report);
    const QString &text() const { return m_text; }

Q_SIGNALS:
    // The rules were held against what the server holds.
    void checked();

public Q_SLOTS:
    // The check, once the events at hand are handled: a change of many
    // rules is checked once.
    void schedule();

private:
    void check();
    void settle(const QString &text);

    RuleLists &m_rules;
    CurrentProfile &m_profile;
    std::function<void(const QString &)> m_show;
    QTimer m_later;
    QString m_text;
    int m_round = 0; // the newest check; an older one's answer is stale
};
