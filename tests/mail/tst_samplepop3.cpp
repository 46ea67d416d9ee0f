// The fetch and the deletion against the sample POP3 server and its shipped
// sample mail: a real conversation end to end, files removed at QUIT.
#include "MailTestFixture.h"
#include "SamplePop3Server.h"
#include "ServerSpamMarks.h"

#include <QDir>
#include <QMap>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSamplePop3 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fetchAndDeleteSampleMail();
    void spamThatSenderRulesMiss();
    void todaysHeaderForms();
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
    f.settings.EmailPort = QString::number(server.port());
    f.settings.EmailUserid = QStringLiteral("demo");
    f.settings.EmailPassword = QStringLiteral("demo");
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

// The sample spam that whole-sender rules miss (server marks, a fake address
// in the display name, changing names, fresh subdomains, a subject) is
// caught, and the mailing list is kept by its List-Id although its subject
// matches too. Each row says which rule put it there.
void TestSamplePop3::spamThatSenderRulesMiss()
{
    MailFixture f;
    SamplePop3Server server(SamplePop3Server::loadFolder(QStringLiteral(TRELVIK_SAMPLE_MAIL)), "demo", "demo");
    QVERIFY(server.listen());
    f.settings.EmailPort = QString::number(server.port());
    f.settings.EmailUserid = QStringLiteral("demo");
    f.settings.EmailPassword = QStringLiteral("demo");
    for (const QString &mark : ServerSpamMarks::rules())
        f.filter << mark.toLower();
    f.filter << QStringLiteral("*@spam.example") << QStringLiteral("*@*.spam.example")
             << QStringLiteral("subject: *free money*");
    f.exempted << QStringLiteral("list-id: *dev.lists.opensource.example*");

    f.fetch();
    VERIFY_BOXES(f.boxes);
    QMap<QString, QString> recycled; // subject -> rule
    for (int r = 0; r < f.recycle.count(); ++r)
        recycled.insert(f.recycle.entry(r).subject, f.recycle.entry(r).sortReason.text());
    // This one carries two of the marks; either may be named.
    QString &twoMarks = recycled[QStringLiteral("Last chance: 90% off everything")];
    if (twoMarks == QLatin1String("x-spam-status: yes* (Filter List)"))
        twoMarks = QStringLiteral("x-spam-flag: yes (Filter List)");
    const QMap<QString, QString> expected{
        {QStringLiteral("Last chance: 90% off everything"), QStringLiteral("x-spam-flag: yes (Filter List)")},
        {QStringLiteral("Your order is waiting"), QStringLiteral("x-spam: yes* (Filter List)")},
        {QStringLiteral("Please confirm your account details"), QStringLiteral("*@spam.example (Filter List)")},
        {QStringLiteral("A refund of 412.50 is waiting for you"), QStringLiteral("*@spam.example (Filter List)")},
        {QStringLiteral("Your parcel could not be delivered"), QStringLiteral("*@spam.example (Filter List)")},
        {QStringLiteral("Your account has been locked"), QStringLiteral("*@spam.example (Filter List)")},
        {QStringLiteral("Invoice 2026-4471 overdue"), QStringLiteral("*@spam.example (Filter List)")},
        {QStringLiteral("You are today's winner"), QStringLiteral("*@*.spam.example (Filter List)")},
        {QStringLiteral("Second notice: your prize expires"), QStringLiteral("*@*.spam.example (Filter List)")},
        {QStringLiteral("=?UTF-8?Q?Free_money_for_you_=E2=80=93_no_catch?="),
         QStringLiteral("subject: *free money* (Filter List)")}};
    QCOMPARE(recycled, expected);
    bool listKept = false;
    for (int r = 0; r < f.inbox.count(); ++r) {
        if (f.inbox.entry(r).subject.startsWith(QLatin1String("[dev]")))
            listKept = f.inbox.entry(r).sortReason.text()
                == QLatin1String("list-id: *dev.lists.opensource.example* (Exempted List)");
    }
    QVERIFY(listKept);
}

// The sample's messages in the header forms today's mail carries: raw UTF-8,
// an upper-case IDNA domain, an address with two "@" and an "X-From:" line,
// sorted with exempted rules that a misreading would let them past.
void TestSamplePop3::todaysHeaderForms()
{
    MailFixture f;
    SamplePop3Server server(SamplePop3Server::loadFolder(QStringLiteral(TRELVIK_SAMPLE_MAIL)), "demo", "demo");
    QVERIFY(server.listen());
    f.settings.EmailPort = QString::number(server.port());
    f.settings.EmailUserid = QStringLiteral("demo");
    f.settings.EmailPassword = QStringLiteral("demo");
    f.filter << QStringLiteral("*@spam.example") << QStringLiteral("*@b\u00fccher.example")
             << QStringLiteral("Subject: *GAGN\u00c9*");
    f.exempted << QStringLiteral("*@bank.example") << QStringLiteral("*@work.example");

    f.fetch();
    VERIFY_BOXES(f.boxes);
    QMap<QString, QString> recycled; // sender -> subject and rule
    for (int r = 0; r < f.recycle.count(); ++r) {
        const MessageEntry &e = f.recycle.entry(r);
        recycled.insert(e.sender, e.subject + QStringLiteral(" | ") + e.sortReason.text());
    }
    QCOMPARE(recycled.value(QStringLiteral("Agence Soleil <offres@voyages-soleil.example>")),
             QStringLiteral("Vous avez gagn\u00e9 un s\u00e9jour \u00e0 Nice | Subject: *GAGN\u00c9* (Filter List)"));
    QCOMPARE(recycled.value(QStringLiteral("B\u00fccher Info <info@XN--BCHER-KVA.example>")),
             QStringLiteral("Neue B\u00fccher im Dezember | *@b\u00fccher.example (Filter List)"));
    QCOMPARE(recycled.value(QStringLiteral("Your Bank <security@bank.example@spam.example>")),
             QStringLiteral("Your account has been locked | *@spam.example (Filter List)"));
    QCOMPARE(recycled.value(QStringLiteral("Accounts <billing@spam.example>")),
             QStringLiteral("Invoice 2026-4471 overdue | *@spam.example (Filter List)"));
}

QTEST_GUILESS_MAIN(TestSamplePop3)
#include "tst_samplepop3.moc"
