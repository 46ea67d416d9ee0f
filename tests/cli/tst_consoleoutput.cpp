// What the console makes of the window's texts, and what it keeps of them.
#include "ConsoleOutput.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestConsoleOutput : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sentences_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("console");
        QTest::newRow("a line without a stop") << u"Invalid Email UserID or Password\r\nCorrect them in the window."_s
                                               << u"Invalid Email UserID or Password. Correct them in the window."_s;
        QTest::newRow("a reason after a stop")
            << u"The server's certificate is not trusted, so the connection was closed.\r\nThe certificate has "
               "expired"_s
            << u"The server's certificate is not trusted, so the connection was closed. The certificate has "
               "expired"_s;
        QTest::newRow("the server's words after a colon")
            << u"The server said:\r\n-ERR busy"_s << u"The server said: -ERR busy"_s;
        QTest::newRow("blank lines, bare LF and CR, a trailing break")
            << u"One\r\n\r\nTwo\nThree\rFour\r\n"_s << u"One. Two. Three. Four"_s;
        QTest::newRow("one line stays as it is") << u"Cancelled."_s << u"Cancelled."_s;
    }
    void sentences()
    {
        QFETCH(QString, window);
        QFETCH(QString, console);
        QCOMPARE(ConsoleOutput::sentences(window), console);
    }

    // A watch reports every reconnection, for days: what is kept is bounded,
    // and what a check asks for since its start is still there.
    void keptErrorsAreBounded()
    {
        const qsizetype start = ConsoleOutput::errorCount();
        for (qsizetype i = 0; i < ConsoleOutput::kKeptErrors + 6; ++i)
            ConsoleOutput::error(u"reconnect %1"_s.arg(i));
        QCOMPARE(ConsoleOutput::errorCount(), start + ConsoleOutput::kKeptErrors + 6);
        QCOMPARE(ConsoleOutput::errorsSoFar().size(), ConsoleOutput::kKeptErrors);
        QCOMPARE(ConsoleOutput::errorsSoFar().constLast(), u"reconnect %1"_s.arg(ConsoleOutput::kKeptErrors + 5));
        const qsizetype mark = ConsoleOutput::errorCount();
        ConsoleOutput::error(u"this profile failed"_s);
        QCOMPARE(ConsoleOutput::errorsSince(mark), QStringList{u"this profile failed"_s});
    }
};

QTEST_GUILESS_MAIN(TestConsoleOutput)
#include "tst_consoleoutput.moc"
