// The screening over the mailbox interface alone, with an in-memory mailbox:
// what a second protocol relies on when it implements MailboxSession.
#include "CancelFlag.h"
#include "HeaderDigest.h"
#include "MailOperations.h"
#include "MessageFolderModel.h"
#include "RecordingStatus.h"

#include <QTest>

namespace {

QString headerOf(const QString &sender)
{
    return QStringLiteral("+OK\r\nFrom: %1\r\nSubject: s\r\n\r\n.\r\n").arg(sender);
}

// A mailbox that lists `senders` as messages 1..n (ids "u1".."un") and
// answers every step as the test sets it.
class FakeMailbox : public MailboxSession {
public:
    explicit FakeMailbox(QStringList senders)
        : m_senders(std::move(senders))
    {
    }

    MailResult open() override
    {
        ++opens;
        return MailResult::done();
    }
    MailResult list(MailboxListing &listing) override
    {
        for (int k = 0; k < m_senders.size(); ++k)
            listing.messages.append({k + 1, QStringLiteral("u%1").arg(k + 1), 1000 * (k + 1)});
        listing.count = m_senders.size();
        return MailResult::done();
    }
    MailResult readHeaders(const MailboxListing &listing, const HeaderSink &sink) override
    {
        for (qsizetype k = 0; k < listing.size(); ++k)
            if (!sink({k, headerOf(m_senders.at(k)).toLatin1(), false, true, listing.at(k).bytes}))
                break;
        return MailResult::done();
    }
    void commitAfterReading() override { commitFollows = true; }
    MailResult locate(const QList<MessageIdentity> &rows, QList<qint32> &numbers) override
    {
        ++locates;
        numbers.clear();
        for (const MessageIdentity &row : rows)
            numbers.append(changedIds.contains(row.uid) ? 0 : row.number);
        return MailResult::done();
    }
    MailResult remove(const QList<qint32> &numbers, const RemovalSink &sink) override
    {
        Q_EMIT aboutToWait(); // as a server's answers are awaited
        for (qsizetype i = 0; i < numbers.size(); ++i) {
            removed.append(numbers.at(i));
            sink(i, true);
        }
        return MailResult::done();
    }
    MailResult commit() override
    {
        ++commits;
        return commitResult;
    }
    void close() override { ++closes; }

    QStringList changedIds;
    MailResult commitResult = MailResult::done();
    QList<qint32> removed;
    int commits = 0;
    int closes = 0;
    int opens = 0;
    int locates = 0;
    bool commitFollows = false;

private:
    QStringList m_senders;
};

MessageClassifier spamFrom(const QString &address)
{
    return [address](const QString &sender, QByteArrayView, qint64) {
        SortReason reason;
        if (sender == address)
            reason.kind = SortReason::Kind::Filter;
        return reason;
    };
}

QStringList senders(const MessageFolderModel &model)
{
    QStringList out;
    for (int r = 0; r < model.count(); ++r)
        out << model.entry(r).sender;
    return out;
}

} // namespace

class TestScreening : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        mailbox = std::make_unique<FakeMailbox>(
            QStringList{"a@x.example", "spam@x.example", "b@x.example", "spam@x.example"});
        inbox.clear();
        recycle.clear();
        cancel.clear();
        const MailResult fetched = FetchHeader(status, inbox, recycle, spamFrom("spam@x.example"), *mailbox, cancel);
        QVERIFY(fetched.ok());
        QCOMPARE(mailbox->commits, 1);
        QVERIFY(mailbox->commitFollows);
        mailbox->commits = 0;
    }

    void fetchSortsEveryListedMessage()
    {
        QCOMPARE(senders(inbox), (QStringList{"a@x.example", "b@x.example"}));
        QCOMPARE(senders(recycle), (QStringList{"spam@x.example", "spam@x.example"}));
        const MessageEntry row = recycle.entry(1);
        QCOMPARE(row.number, 4);
        QCOMPARE(row.uid, QStringLiteral("u4"));
        QCOMPARE(row.bytes, 4000);
        QCOMPARE(row.identityDigest(), HeaderDigest::of(HeaderDigest::blockOfReply(headerOf("spam@x.example"))));
    }

    // Only rows the mailbox confirms are removed; the journal is written
    // before the commit and settled after it.
    void deletionRemovesConfirmedRowsOnly()
    {
        mailbox->changedIds = {"u2"};
        QStringList journal;
        const DeletionJournal record{
            [&](const QList<MessageEntry> &rows, QString *) {
                journal << QStringLiteral("pending %1 commits %2").arg(rows.size()).arg(mailbox->commits);
                return true;
            },
            [&](bool carriedOut) { journal << QStringLiteral("settle %1").arg(carriedOut); }};
        const DeletionResult result = EmptyRecycleBin(status, recycle, *mailbox, cancel, record);
        QCOMPARE(mailbox->removed, (QList<qint32>{4}));
        QCOMPARE(journal, (QStringList{"pending 1 commits 0", "settle 1"}));
        QCOMPARE(result.deleted.size(), 1);
        QCOMPARE(result.changed, 1);
        QCOMPARE(recycle.count(), 1);
        QCOMPARE(recycle.entry(0).uid, QStringLiteral("u2"));
        QVERIFY(result.result.text.startsWith(QStringLiteral("1 of 2 messages could not be deleted")));
        QCOMPARE(status.statusText,
                 QStringLiteral("Empty Recycle Bin: 1 message deleted, 1 changed on the server, "
                                "not deleted"));
    }

    // Without the server's word on the commit, every row is back, in order,
    // and the journal's entries stay pending.
    void unconfirmedCommitPutsRowsBack()
    {
        mailbox->commitResult = MailResult::failure(MailOutcome::ConnectionFailed, "Error", "The server left.");
        bool settled = false;
        const DeletionJournal record{[](const QList<MessageEntry> &, QString *) { return true; },
                                     [&](bool) { settled = true; }};
        const DeletionResult result = EmptyRecycleBin(status, recycle, *mailbox, cancel, record);
        QCOMPARE(mailbox->removed, (QList<qint32>{4, 2}));
        QVERIFY(!settled);
        QVERIFY(result.deleted.isEmpty());
        QCOMPARE(result.outcome(), MailOutcome::ConnectionFailed);
        QCOMPARE(result.result.text, QStringLiteral("The server left.\r\nThe messages are back in the Recycle Bin."));
        QCOMPARE(recycle.count(), 2);
        QCOMPARE(recycle.entry(0).uid, QStringLiteral("u2"));
        QCOMPARE(recycle.entry(1).uid, QStringLiteral("u4"));
    }

    // A fetch that leaves its session open is told no commit follows; the
    // deletion in that session neither opens nor locates again: every row
    // goes by the number it was read at.
    void deletionInTheFetchingSession()
    {
        FakeMailbox fetching(QStringList{"spam@x.example", "a@x.example", "spam@x.example"});
        fetching.changedIds = {"u1"};
        MessageFolderModel in, out;
        QVERIFY(FetchHeader(status, in, out, spamFrom("spam@x.example"), fetching, cancel, false, nullptr,
                            SessionEnd::LeaveOpen)
                    .ok());
        QCOMPARE(fetching.commits + fetching.closes, 0);
        QVERIFY(!fetching.commitFollows);
        QStringList journal;
        const DeletionJournal record{[&](const QList<MessageEntry> &rows, QString *) {
                                         journal << QStringLiteral("pending %1").arg(rows.size());
                                         return true;
                                     },
                                     [&](bool carriedOut) { journal << QStringLiteral("settle %1").arg(carriedOut); }};
        // What is done meanwhile sees the Recycle Bin as the fetch left it.
        const DeletionResult result = EmptyRecycleBinInSession(status, out, fetching, cancel, record, [&] {
            journal << QStringLiteral("meanwhile %1").arg(out.count());
        });
        QCOMPARE(fetching.removed, (QList<qint32>{3, 1}));
        QCOMPARE(fetching.opens, 1);
        QCOMPARE(fetching.locates, 0);
        QCOMPARE(fetching.commits, 1);
        QCOMPARE(fetching.closes, 1);
        QCOMPARE(journal, (QStringList{"meanwhile 2", "pending 2", "settle 1"}));
        QCOMPARE(result.deleted.size(), 2);
        QCOMPARE(out.count(), 0);
    }

    // A journal that cannot be written keeps the server from acting at all.
    void unwritableJournalMeansNoCommit()
    {
        const DeletionJournal record{[](const QList<MessageEntry> &, QString *error) {
                                         *error = QStringLiteral("disk full");
                                         return false;
                                     },
                                     {}};
        const DeletionResult result = EmptyRecycleBin(status, recycle, *mailbox, cancel, record);
        QCOMPARE(mailbox->commits, 0);
        QCOMPARE(result.outcome(), MailOutcome::Failed);
        QVERIFY(result.result.text.contains(QStringLiteral("disk full")));
        QCOMPARE(recycle.count(), 2);
    }

private:
    std::unique_ptr<FakeMailbox> mailbox;
    RecordingStatus status;
    MessageFolderModel inbox;
    MessageFolderModel recycle;
    CancelFlag cancel;
};

QTEST_GUILESS_MAIN(TestScreening)
#include "tst_screening.moc"
