#pragma once

#include "MessageBox.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <functional>

namespace testsupport {

// Points the per-user config, data and runtime places at a fresh temporary
// folder for as long as it lives, and puts the old values back after.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString configHome() const;
    QString dataHome() const;
    QString runtimeDir() const;
    // The folder the program keeps its rule database in.
    QString appDataFolder() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig, m_oldData, m_oldRuntime;
    bool m_hadConfig, m_hadData, m_hadRuntime;
};

// A self-signed certificate for 127.0.0.1 made with openssl in `folder`;
// false (with *error) when openssl is missing or failed.
bool makeTestCertificate(const QString &folder, QByteArray *certificatePem, QByteArray *keyPem, QString *error);

// Answers message boxes during a test and records them. Each expect() states
// one box the test awaits, with the answer to give; a box nobody expected is
// recorded as unexpected, answered Ok/No, and fails the test in verify().
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();

    void expect(const QString &text, const QString &title, MessageBox::Icon icon,
                MessageBox::Result answer = MessageBox::Result::Ok);
    // Boxes shown so far, in order.
    const QList<MessageBox::Request> &shown() const { return m_shown; }
    // True when every expected box was shown in order and no other one was.
    bool allMet(QString *why = nullptr) const;
    int pending() const { return int(m_expected.size()) - m_next; }
    void reset();

private:
    struct Expected {
        QString text, title;
        MessageBox::Icon icon;
        MessageBox::Result answer;
    };
    MessageBox::Result answer(const MessageBox::Request &request);

    QList<Expected> m_expected;
    int m_next = 0;
    QList<MessageBox::Request> m_shown;
    QStringList m_unexpected;
    MessageBox::Handler m_previous;
};

} // namespace testsupport

// Fails the current test when the recorder saw an unexpected box or one that
// was expected did not come.
#define VERIFY_BOXES(recorder)                                                                                         \
    do {                                                                                                               \
        QString why_;                                                                                                  \
        QVERIFY2((recorder).allMet(&why_), qPrintable(why_));                                                          \
    } while (false)
