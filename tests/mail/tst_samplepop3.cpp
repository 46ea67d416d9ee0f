// The fetch and the deletion against the sample POP3 server and its shipped
// sample mail: a real conversation end to end, files removed at QUIT.
#include "MailTestFixture.h"
#include "SamplePop3Server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <QTest>

class TestSamplePop3 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fetchAndDeleteSampleMail_data();
    void fetchAndDeleteSampleMail();
    void capabilities_data();
    void capabilities();
    void refusesWrongPassword();
};

void TestSamplePop3::fetchAndDeleteSampleMail_data()
{
    QTest::addColumn<bool>("pipelining");
    QTest::newRow("pipelined") << true;
    QTest::newRow("plain") << false;
}

void TestSamplePop3::fetchAndDeleteSampleMail()
{
    QFETCH(bool, pipelining);
    QTemporaryDir copy;
    QVERIFY(copy.isValid());
    const QDir source(QStringLiteral(TRELVIK_SAMPLE_MAIL));
    const QStringList files = source.entryList(QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 30);
    for (const QString &name : files)
        QVERIFY(QFile::copy(source.filePath(name), copy.filePath(name)));

    MailFixture f;
    SamplePop3Server server(SamplePop3Server::loadFolder(copy.path()), "demo", "demo");
    server.setOfferPipelining(pipelining);
    QVERIFY(server.listen());
    Global::ProfileSettings.EmailPort = QString::number(server.port());
    Global::ProfileSettings.EmailUserid = QStringLiteral("demo");
    Global::ProfileSettings.EmailPassword = QStringLiteral("demo");
    f.filter << QStringLiteral("*@mega-deals.example") << QStringLiteral("*@lucky-prize.example");

    f.fetch();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(f.inbox.count() + f.recycle.count(), int(files.size()));
    QCOMPARE(f.recycle.count(), 2);
    const QStringList senders = rowTexts(f.inbox, MessageFolderModel::Sender);
    QVERIFY(senders.contains(QString())); // the message without From
    QVERIFY(senders.contains(QStringLiteral("\"Ines Duarte (Fabrikam Legal Department)\" <ines.duarte@fabrikam.example>")));
    QVERIFY(rowTexts(f.inbox, MessageFolderModel::Subject)
                .contains(QStringLiteral("=?UTF-8?B?VG9wIDEwIGdhZGdldHMgb2YgdGhlIHllYXIg4pyo?=")));
    for (int r = 0; r < f.recycle.count(); ++r)
        QVERIFY(!f.recycle.entry(r).uid.isEmpty());

    f.empty();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(f.recycle.count(), 0);
    QCOMPARE(QDir(copy.path()).entryList(QDir::Files).size(), files.size() - 2);
    QCOMPARE(server.messageCount(), int(files.size()) - 2);
}

void TestSamplePop3::capabilities_data()
{
    QTest::addColumn<bool>("offer");
    QTest::newRow("offered") << true;
    QTest::newRow("not offered") << false;
}

void TestSamplePop3::capabilities()
{
    // What CAPA lists, and commands sent together answered in order in any case.
    QFETCH(bool, offer);
    SamplePop3Server server({{"From: a@b.example\r\n\r\nbody\r\n", QStringLiteral("one"), QString()}}, "demo", "demo");
    server.setOfferPipelining(offer);
    QVERIFY(server.listen());
    QTcpSocket client;
    QByteArray received;
    connect(&client, &QTcpSocket::readyRead, &client, [&] { received += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, server.port());
    QTRY_VERIFY_WITH_TIMEOUT(received.endsWith("\r\n"), 5000);
    received.clear();
    client.write("CAPA\r\nUSER demo\r\nPASS demo\r\nTOP 1 0\r\nLIST 1\r\nTOP 2 0\r\nQUIT\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(received.contains("bye"), 5000);
    const QList<QByteArray> lines = received.split('\n');
    QCOMPARE(lines.contains("PIPELINING\r"), offer);
    const qsizetype capaEnd = received.indexOf("\r\n.\r\n");
    QVERIFY(capaEnd > 0);
    QCOMPARE(received.mid(capaEnd + 5),
             QByteArray("+OK send the password\r\n+OK maildrop has 1 messages\r\n"
                        "+OK 27 octets\r\nFrom: a@b.example\r\n\r\n.\r\n"
                        "+OK 1 27\r\n-ERR no such message\r\n+OK 0 messages deleted, bye\r\n"));
}

void TestSamplePop3::refusesWrongPassword()
{
    MailFixture f;
    SamplePop3Server server({{"From: a@b.example\r\n\r\nbody\r\n", QStringLiteral("one"), QString()}}, "demo", "demo");
    QVERIFY(server.listen());
    Global::ProfileSettings.EmailPort = QString::number(server.port());
    Global::ProfileSettings.EmailUserid = QStringLiteral("demo");
    Global::ProfileSettings.EmailPassword = QStringLiteral("wrong");
    f.boxes.expect(QStringLiteral("Invalid Email UserID or Password"), QStringLiteral("Connection Failed"),
                   MessageBox::Icon::Critical);
    f.fetch();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(f.inbox.count(), 0);
}

QTEST_GUILESS_MAIN(TestSamplePop3)
#include "tst_samplepop3.moc"
