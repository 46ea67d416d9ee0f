// Each remedy a failure carries is worded by both front ends: the window
// names its buttons, the command line what to run; neither says the other's.
#include "ConsoleWords.h"
#include "WindowWords.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestReasonWords : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bothFrontEnds_data()
    {
        QTest::addColumn<QString>("facts");
        QTest::addColumn<MailReason>("reason");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("console");
        const QString settings = u"in the window's Settings (start trelvik without options), or name another "
                                 "profile with --profile."_s;
        QTest::newRow("no remedy: the facts alone") << u"The server said: busy"_s << MailReason::None
                                                    << u"The server said: busy"_s << u"The server said: busy"_s;
        QTest::newRow("not configured, IMAP")
            << u"Email Setting not configured"_s << MailReason::NotConfigured
            << u"Email Setting not configured\r\nPress the Setting button beside the profile box and fill in the "
               "IMAP server, user ID and password."_s
            << u"Email Setting not configured\r\nFill in the IMAP server, user ID and password "_s + settings;
        QTest::newRow("password refused")
            << u"Invalid Email UserID or Password"_s << MailReason::SettingsWrong
            << u"Invalid Email UserID or Password\r\nCorrect them with the Setting button beside the profile box."_s
            << u"Invalid Email UserID or Password\r\nCorrect them "_s + settings;
        QTest::newRow("sign-in withdrawn")
            << u"The sign-in is no longer accepted."_s << MailReason::SignInAgain
            << u"The sign-in is no longer accepted.\r\nSign in again: open the Settings and press \"Sign in...\"."_s
            << u"The sign-in is no longer accepted.\r\nSign in again in the window (start trelvik without options): "
               "the browser is needed."_s;
        QTest::newRow("a remedy without facts stands alone")
            << QString() << MailReason::SettingsWrong
            << u"Correct them with the Setting button beside the profile box."_s << u"Correct them "_s + settings;
    }
    void bothFrontEnds()
    {
        QFETCH(QString, facts);
        QFETCH(MailReason, reason);
        QFETCH(QString, window);
        QFETCH(QString, console);
        QCOMPARE(WindowWords::text(facts, reason, u"IMAP server"_s), window);
        const MailResult result = MailResult::failure(MailOutcome::ConnectionFailed, u"Connection Failed"_s, facts)
                                      .advising(reason, u"IMAP server"_s);
        QCOMPARE(ConsoleWords::text(result), console);
        QVERIFY2(!console.contains("button"_L1) && !console.contains("press "_L1), qPrintable(console));
        QVERIFY2(!window.contains("--profile"_L1) && !window.contains("start trelvik"_L1), qPrintable(window));
    }
};

QTEST_GUILESS_MAIN(TestReasonWords)
#include "tst_reasonwords.moc"
