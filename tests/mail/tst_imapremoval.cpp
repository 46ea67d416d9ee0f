#include "CancelFlag.h"
#include "ImapMailbox.h"
#include "MailOperations.h"
#include "MessageFolderModel.h"
#include "ProfileRecord.h"
#include "RecordingStatus.h"
#include "SampleImapServer.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

// The check's fetch and its removal in the same session, as `--check
// --delete` runs them, against the sample IMAP server over loopback:
// mailboxes whose UIDs are far from their sequence numbers, with gaps,
// messages marked \Deleted, and another client that expunges or marks
// messages between any two commands. Whatever happens, the server's state
// afterwards is what the rules say, and the report and the history say
// exactly what the server did.
class TestImapRemoval : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void serverStateFollowsTheRules_data();
    void serverStateFollowsTheRules();
};

namespace {

QByteArray message(int n, bool spam)
{
    const QByteArray id = QByteArray::number(n);
    return "From: " + (spam ? "x" + id + "@spam.example" : "friend" + id + "@home.example") + "\r\nSubject: m" + id
        + "\r\nDate: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nBody\r\n";
}

SortReason classify(const QString &sender, QByteArrayView, qint64)
{
    if (sender.endsWith(QLatin1String("@spam.example")))
        return {SortReason::Kind::Filter, QStringLiteral("*@spam.example")};
    return {};
}

QSet<QByteArray> subjectsOf(const QList<QByteArray> &subjects)
{
    return QSet<QByteArray>(subjects.cbegin(), subjects.cend());
}

} // namespace

void TestImapRemoval::serverStateFollowsTheRules_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("offerMove");
    const QStringList actions{QStringLiteral("Junk"), QStringLiteral("Delete"), QStringLiteral("Trash")};
    for (quint32 seed = 1; seed <= 18; ++seed)
        QTest::addRow("seed %u, %s%s", seed, qPrintable(actions.at(seed % 3)), seed % 2 ? "" : ", no MOVE")
            << seed << actions.at(seed % 3) << bool(seed % 2);
}

void TestImapRemoval::serverStateFollowsTheRules()
{
    QFETCH(quint32, seed);
    QFETCH(QString, action);
    QFETCH(bool, offerMove);
    QRandomGenerator random(seed);
    const int count = 6 + int(random.bounded(14));
    QList<QByteArray> messages;
    QSet<QByteArray> spam;
    for (int n = 1; n <= count; ++n) {
        const bool isSpam = random.bounded(3) == 0;
        messages.append(message(n, isSpam));
        if (isSpam)
            spam.insert("m" + QByteArray::number(n));
    }
    SampleImapServer server(messages, "ann", "secret");
    server.setOfferMove(offerMove);
    QVERIFY(server.listen());
    // Messages marked \Deleted before the check wait for an expunge: they
    // are not screened, and never moved.
    const QList<quint32> uids = server.uids();
    QList<quint32> markedBefore;
    for (const quint32 uid : uids)
        if (random.bounded(6) == 0)
            markedBefore.append(uid);
    server.markDeletedElsewhere(markedBefore);
    // Another client acts once, before one of the check's commands.
    const int actAt = 2 + int(random.bounded(6));
    const quint32 victim = uids.at(random.bounded(qsizetype(uids.size())));
    const bool expunges = random.bounded(2) == 0;
    int commands = 0;
    server.setBeforeCommand([&](const QByteArray &) {
        if (++commands != actAt)
            return;
        if (expunges)
            server.expungeElsewhere({victim});
        else
            server.markDeletedElsewhere({victim});
    });
    const QList<QByteArray> subjectsBefore = server.subjects(QStringLiteral("INBOX"));
    const QByteArray victimSubject = subjectsBefore.at(uids.indexOf(victim));
    QSet<QByteArray> markedSubjects;
    for (const quint32 uid : markedBefore)
        markedSubjects.insert(subjectsBefore.at(uids.indexOf(uid)));

    ProfileSettingsRecord settings;
    settings.EmailHost = QStringLiteral("127.0.0.1");
    settings.EmailPort = QString::number(server.port());
    settings.EmailUserid = QStringLiteral("ann");
    settings.EmailPassword = QStringLiteral("secret");
    settings.MailProtocol = QStringLiteral("IMAP");
    settings.ImapEmptyAction = action;
    RecordingStatus status;
    CancelFlag cancel;
    ImapMailbox mailbox(status, settings, cancel, {}, imapFoldersOf(settings));
    MessageFolderModel inbox, recycle;
    const MailResult fetched = FetchHeader(status, inbox, recycle, classify, mailbox, cancel, true, nullptr,
                                           SessionEnd::LeaveOpen);
    QVERIFY2(fetched.ok(), qPrintable(fetched.text));
    QStringList history; // what the journal holds, settled or not
    QList<MessageEntry> pending;
    DeletionJournal journal{[&](const QList<MessageEntry> &rows, QString *) {
                                pending = rows;
                                return true;
                            },
                            {}};
    journal.settleEach = [&](const QList<std::optional<bool>> &each) {
        for (qsizetype i = 0; i < each.size(); ++i)
            if (each.at(i).value_or(true)) // unknown stays: it may have acted
                history << pending.at(i).subject;
    };
    const DeletionResult result =
        recycle.count() == 0 ? DeletionResult{} : EmptyRecycleBinInSession(status, recycle, mailbox, cancel, journal);
    QVERIFY2(result.result.kind == MailOutcome::Done, qPrintable(result.result.text));

    const QString target = action == QLatin1String("Delete") ? QString() : action;
    const QSet<QByteArray> left = subjectsOf(server.subjects(QStringLiteral("INBOX")));
    const QSet<QByteArray> arrived = target.isEmpty() ? QSet<QByteArray>{} : subjectsOf(server.subjects(target));
    QSet<QByteArray> reported;
    for (const MessageEntry &e : result.deleted)
        reported.insert(e.subject.toLatin1());
    for (const QByteArray &subject : std::as_const(subjectsBefore)) {
        const bool othersToRemove = markedSubjects.contains(subject) || subject == victimSubject;
        const bool gone = !left.contains(subject);
        if (!spam.contains(subject) || markedSubjects.contains(subject))
            QVERIFY2(!reported.contains(subject) && !arrived.contains(subject), subject.constData());
        if (!spam.contains(subject) && !othersToRemove)
            QVERIFY2(!gone, subject.constData()); // never touched
        if (spam.contains(subject) && !othersToRemove)
            QVERIFY2(gone && reported.contains(subject), subject.constData()); // the rules' word
        // Counted as moved or deleted exactly when this run took it.
        if (reported.contains(subject))
            QVERIFY2(gone && (target.isEmpty() || arrived.contains(subject)), subject.constData());
    }
    if (!target.isEmpty())
        QCOMPARE(arrived, reported);
    QCOMPARE(QSet<QString>(history.cbegin(), history.cend()).size(), int(reported.size()));
    for (const QString &subject : std::as_const(history))
        QVERIFY2(reported.contains(subject.toLatin1()), qPrintable(subject));
}

QTEST_GUILESS_MAIN(TestImapRemoval)
#include "tst_imapremoval.moc"
