// The fetch and the deletion against a real POP3 server (a private Dovecot):
// headers as a real server sends them, and a deletion after another client
// has changed the mailbox, which must take the right message and no other.
#include "DovecotServer.h"
#include "MailTestFixture.h"

#include <QTest>

class TestDovecotMail : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void fetchThenDeleteAfterAnotherClient();

private:
    testsupport::DovecotServer m_server;
};

void TestDovecotMail::initTestCase()
{
    QString why;
    if (!testsupport::DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    QVERIFY(m_server.addMessage("From: Ann <ann@example.org>\r\nSubject: one\r\nX-Priority: 2\r\n\r\nbody\r\n"));
    QVERIFY(m_server.addMessage("From: Offers <deals@spam.example>\r\nSubject: two\r\n\r\nbody\r\n"));
    QVERIFY(m_server.addMessage("From: Bob\r\n <bob@example.org>\r\nSubject: three\r\n\r\nbody\r\n"));
    QString error;
    QVERIFY2(m_server.start(&error), qPrintable(error));
}

void TestDovecotMail::fetchThenDeleteAfterAnotherClient()
{
    MailFixture f;
    Global::ProfileSettings.EmailPort = QString::number(m_server.plainPort());
    Global::ProfileSettings.EmailUserid = m_server.user();
    Global::ProfileSettings.EmailPassword = m_server.password();
    f.filter << QStringLiteral("*@spam.example");

    f.fetch();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(rowTexts(f.inbox, MessageFolderModel::Sender), (QStringList{"Ann <ann@example.org>", "Bob <bob@example.org>"}));
    QCOMPARE(rowTexts(f.inbox, MessageFolderModel::Priority), (QStringList{"2", ""}));
    QCOMPARE(rowNumbers(f.recycle), (QList<qint32>{2}));
    QVERIFY(!f.recycle.entry(0).uid.isEmpty());

    // Another client takes message 1: the filtered message is now number 1.
    {
        RecordingStatus quiet;
        Pop3Session other(quiet, Global::ProfileSettings, Global::CancelRequested());
        QCOMPARE(other.ConnectServer(), Pop3Session::kConnected);
        QCOMPARE(other.LoginServer(), qint16(1));
        QCOMPARE(other.command(QStringLiteral("DELE 1"), Pop3Session::kSingleReply), Pop3Session::Outcome::Reply);
        QCOMPARE(other.QuitServer(), Pop3Session::Outcome::Reply);
        other.CloseServer();
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_server.messageCount(), 2, 5000);

    f.empty();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(f.recycle.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.messageCount(), 1, 5000);

    // What is left is Bob's message, not a stranger deleted by number.
    f.inbox.clear();
    f.fetch();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(rowTexts(f.inbox, MessageFolderModel::Sender), (QStringList{"Bob <bob@example.org>"}));
}

QTEST_GUILESS_MAIN(TestDovecotMail)
#include "tst_dovecotmail.moc"
