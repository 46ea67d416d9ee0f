// Lessons from a server's folders against the sample IMAP server on
// loopback: Junk (UIDs from 501) as spam, INBOX (UIDs from 1001, with gaps)
// as good, the newest by UID, \Deleted left out, Trash never opened, and
// nothing on the server changed whatever the reader is told.
#include "CancelFlag.h"
#include "ImapFolderLessons.h"
#include "ProfileRecord.h"
#include "RecordingStatus.h"
#include "SampleImapServer.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

QByteArray message(const QByteArray &subject)
{
    return "From: someone@" + subject + ".example\r\nSubject: " + subject
        + "\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nBody\r\n";
}

QSet<QByteArray> subjectsOf(const QList<QByteArray> &headers)
{
    static const QRegularExpression subject(QStringLiteral("^Subject: (\\S+)\\r?$"),
                                            QRegularExpression::MultilineOption);
    QSet<QByteArray> out;
    for (const QByteArray &header : headers)
        out.insert(subject.match(QString::fromLatin1(header)).captured(1).toLatin1());
    return out;
}

using Subjects = QSet<QByteArray>;

} // namespace

class TestImapFolderLessons : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsJunkAndInboxWithoutChanges_data();
    void readsJunkAndInboxWithoutChanges();
};

void TestImapFolderLessons::readsJunkAndInboxWithoutChanges_data()
{
    QTest::addColumn<int>("newest");
    QTest::addColumn<QString>("stop"); // "", "sink" (says stop) or "cancel" (raised in the sink)
    QTest::addColumn<Subjects>("spam");
    QTest::addColumn<Subjects>("good");
    QTest::addColumn<bool>("done");
    QTest::newRow("all, \\Deleted left out")
        << 2000 << QString() << Subjects{"s1", "s2", "s3"} << Subjects{"g1", "g3", "g4", "g5"} << true;
    QTest::newRow("newest two by UID") << 2 << QString() << Subjects{"s2", "s3"} << Subjects{"g4", "g5"} << true;
    QTest::newRow("sink stops after Junk")
        << 2000 << QStringLiteral("sink") << Subjects{"s1", "s2", "s3"} << Subjects{} << true;
    QTest::newRow("Cancel after Junk") << 2000 << QStringLiteral("cancel") << Subjects{"s1", "s2", "s3"} << Subjects{}
                                       << false;
}

void TestImapFolderLessons::readsJunkAndInboxWithoutChanges()
{
    QFETCH(int, newest);
    QFETCH(QString, stop);
    QFETCH(Subjects, spam);
    QFETCH(Subjects, good);
    QFETCH(bool, done);
    SampleImapServer server({message("g1"), message("g2"), message("g3"), message("g4"), message("g5")}, "ann",
                            "secret");
    QVERIFY(server.listen());
    for (const QByteArray subject : {"s1", "s2", "s3"})
        server.deliver(message(subject), QStringLiteral("Junk"));
    server.deliver(message("t1"), QStringLiteral("Trash"));
    server.markDeletedElsewhere({server.uids().at(1)}); // g2
    QVERIFY(server.uids(QStringLiteral("Junk")).constFirst() > 100); // UIDs unlike sequence numbers

    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(server.port());
    settings.EmailUserid = QStringLiteral("ann");
    settings.EmailPassword = QStringLiteral("secret");
    settings.MailProtocol = QStringLiteral("IMAP");
    RecordingStatus status;
    CancelFlag cancel;
    ImapSession session(status, settings, cancel);
    QVERIFY(session.connectServer().ok());
    QVERIFY(session.login().ok());

    QList<QByteArray> spamRead, goodRead;
    ImapFolderLessons lessons(session, status, cancel, newest);
    const MailResult result = lessons.read([&](const QList<QByteArray> &headers, bool isSpam) {
        (isSpam ? spamRead : goodRead) += headers;
        if (stop == QLatin1String("cancel"))
            cancel.set();
        return stop != QLatin1String("sink");
    });
    QCOMPARE(result.ok(), done);
    QCOMPARE(result.kind == MailOutcome::Cancelled, !done);
    QCOMPARE(subjectsOf(spamRead), spam);
    QCOMPARE(subjectsOf(goodRead), good);
    QCOMPARE(spamRead.size(), spam.size()); // each once
    QCOMPARE(lessons.folders().constFirst().name, QStringLiteral("Junk"));
    QVERIFY(lessons.folders().constFirst().spam);
    QCOMPARE(lessons.folders().constFirst().messages, 3);
    if (done && stop.isEmpty())
        QCOMPARE(lessons.folders().constLast().messages, 4);
    // Nothing changed: read-only, headers peeked, Trash never opened.
    for (const QString &folder : {QStringLiteral("INBOX"), QStringLiteral("Junk"), QStringLiteral("Trash")})
        QVERIFY2(!server.anySeen(folder), qPrintable(folder));
    QCOMPARE(server.messageCount(), 5);
    QCOMPARE(server.messageCount(QStringLiteral("Junk")), 3);
    for (const QByteArray &command : server.commands()) {
        QVERIFY2(!command.startsWith("SELECT") && !command.contains("STORE") && !command.contains("Trash")
                     && !command.contains("BODY[HEADER]") && !command.contains("EXPUNGE"),
                 command.constData());
    }
}

QTEST_GUILESS_MAIN(TestImapFolderLessons)
#include "tst_imapfolderlessons.moc"
