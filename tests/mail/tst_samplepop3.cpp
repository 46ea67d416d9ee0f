// The fetch and the deletion against the sample POP3 server and its shipped
// sample mail: a real conversation end to end, files removed at QUIT.
#include "MailTestFixture.h"
#include "SamplePop3Server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSamplePop3 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fetchAndDeleteSampleMail();
};

void TestSamplePop3::fetchAndDeleteSampleMail()
{
    QTemporaryDir copy;
    QVERIFY(copy.isValid());
    const QDir source(QStringLiteral(TRELVIK_SAMPLE_MAIL));
    const QStringList files = source.entryList(QDir::Files, QDir::Name);
    QVERIFY(files.size() >= 30);
    for (const QString &name : files)
        QVERIFY(QFile::copy(source.filePath(name), copy.filePath(name)));

    MailFixture f;
    SamplePop3Server server(SamplePop3Server::loadFolder(copy.path()), "demo", "demo");
    QVERIFY(server.listen());
    Global::ProfileSettings.EmailPort = QString::number(server.port());
    Global::ProfileSettings.EmailUserid = QStringLiteral("demo");
    Global::ProfileSettings.EmailPassword = QStringLiteral("demo");
    f.filter << QStringLiteral("*@mega-deals.example") << QStringLiteral("*@lucky-prize.example");

    f.fetch();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(f.inbox.count() + f.recycle.count(), int(files.size()));
    QCOMPARE(f.recycle.count(), 2);
    QVERIFY(rowTexts(f.inbox, MessageFolderModel::Sender).contains(QString())); // the message without From

    f.empty();
    VERIFY_BOXES(f.boxes);
    QCOMPARE(f.recycle.count(), 0);
    QCOMPARE(QDir(copy.path()).entryList(QDir::Files).size(), files.size() - 2);
    QCOMPARE(server.messageCount(), int(files.size()) - 2);
}

QTEST_GUILESS_MAIN(TestSamplePop3)
#include "tst_samplepop3.moc"
