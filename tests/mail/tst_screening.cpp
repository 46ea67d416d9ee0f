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

// A mailbox that lists `senders` as messages 1..n (ids "u1".."un") whose
// keys hold something else (as an IMAP UID is no sequence number), and
// answers every step as the test sets it.
class FakeMailbox : public MailboxSession {
public:
    explicit FakeMailbox(QStringList senders)
        : m_senders(std::move(senders))
    {
    }
    static qint64 keyValueOf(int number) { return 7000 + 13 * qint64(number); }

    MailResult open() override
    {
        ++opens;
        return MailResult::done();
    }
    MailResult list(MailboxListing &listing) override
    {
        for (int k = 0; k < m_senders.size(); ++k)
            listing.messages.append(
                {k + 1, QStringLiteral("u%1").arg(k + 1), 1000 * (k + 1), makeKey(quint64(keyValueOf(k + 1)))});
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
    // A row is found by its key where this mailbox made it, else by its id.
    MailResult locate(const QList<MessageIdentity> &rows, QList<LocatedMessage> &found) override
    {
        ++locates;
        found.clear();
        for (const MessageIdentity &row : rows) {
            const bool changed = changedIds.contains(row.uid);
            const MessageKey key = keyValue(row.key) ? row.key : makeKey(quint64(keyValueOf(row.uid.mid(1).toInt())));
            found.append({changed ? LocatedMessage::State::Changed : LocatedMessage::State::Found,
                          changed ? MessageKey() : key});
        }
        return MailResult::done();
    }
    MailResult remove(const QList<MessageKey> &keys, const RemovalSink &sink) override
    {
        Q_EMIT aboutToWait(); // as a server's answers are awaited
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (i == failAt)
                return MailResult::failure(MailOutcome::ConnectionFailed, "Error", "The server left.");
            const std::optional<quint64> value = keyValue(keys.at(i));
            removed.append(value ? qint64(*value) : -1);
            sink(i, !value || goneKeys.contains(qint64(*value)) ? RemovalAnswer::Gone : RemovalAnswer::Removed);
        }
        return MailResult::done();
    }
    bool removesAtOnce() const override { return atOnce; }
    MailResult commit() override
    {
        ++commits;
        return commitResult;
    }
    void close() override { ++closes; }
    // A key of this mailbox, for a test that hands it to another.
    MessageKey keyFor(int number) const { return makeKey(quint64(keyValueOf(number))); }

    QStringList changedIds;
    QList<qint64> goneKeys; // another client was first
    qsizetype failAt = -1; // the connection is lost before this removal's answer
    bool atOnce = false;
    MailResult commitResult = MailResult::done();
    QList<qint64> removed; // key values; -1 for a key of another mailbox
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
        QCOMPARE(mailbox->removed, (QList<qint64>{FakeMailbox::keyValueOf(4)}));
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
        QCOMPARE(mailbox->removed, (QList<qint64>{FakeMailbox::keyValueOf(4), FakeMailbox::keyValueOf(2)}));
        QVERIFY(!settled);
        QVERIFY(result.deleted.isEmpty());
        QCOMPARE(result.outcome(), MailOutcome::ConnectionFailed);
        QCOMPARE(result.result.text, QStringLiteral("The server left.\r\nThe messages are back in the Recycle Bin."));
        QCOMPARE(recycle.count(), 2);
        QCOMPARE(recycle.entry(0).uid, QStringLiteral("u2"));
        QCOMPARE(recycle.entry(1).uid, QStringLiteral("u4"));
    }

    // A fetch that leaves its session open is told no commit follows; the
    // deletion in that session does not open again, and hands the mailbox
    // the keys it made to confirm, as a later session would confirm ids.
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
        QCOMPARE(fetching.removed, (QList<qint64>{FakeMailbox::keyValueOf(3)}));
        QCOMPARE(fetching.opens, 1);
        QCOMPARE(fetching.locates, 1);
        QCOMPARE(fetching.commits, 1);
        QCOMPARE(fetching.closes, 1);
        QCOMPARE(journal, (QStringList{"meanwhile 2", "pending 1", "settle 1"}));
        QCOMPARE(result.deleted.size(), 1);
        QCOMPARE(result.changed, 1);
        QCOMPARE(out.count(), 1);
    }

    // Where removals act at once, the history is written before the first
    // goes out and each row settled by its own answer: a message another
    // client removed first is changed, never deleted, and a connection lost
    // midway keeps what the server did and leaves the rest pending.
    void removalsThatActAtOnce_data()
    {
        QTest::addColumn<QList<qint64>>("gone");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<QString>("settled"); // per row, last first: 1 done, 0 not, ? unknown
        QTest::addColumn<QStringList>("left");
        QTest::newRow("all removed") << QList<qint64>{} << -1 << "11" << QStringList{};
        QTest::newRow("one gone before it")
            << QList<qint64>{FakeMailbox::keyValueOf(2)} << -1 << "10" << QStringList{"u2"};
        QTest::newRow("lost after the first") << QList<qint64>{} << 1 << "1?" << QStringList{"u2"};
    }
    void removalsThatActAtOnce()
    {
        QFETCH(QList<qint64>, gone);
        QFETCH(int, failAt);
        QFETCH(QString, settled);
        QFETCH(QStringList, left);
        mailbox->atOnce = true;
        mailbox->goneKeys = gone;
        mailbox->failAt = failAt;
        qsizetype removedWhenWritten = -1;
        QString outcomes;
        DeletionJournal record{[&](const QList<MessageEntry> &, QString *) {
                                   removedWhenWritten = mailbox->removed.size();
                                   return true;
                               },
                               {}};
        record.settleEach = [&](const QList<std::optional<bool>> &each) {
            for (const std::optional<bool> &o : each)
                outcomes += !o ? QLatin1Char('?') : *o ? QLatin1Char('1') : QLatin1Char('0');
        };
        const DeletionResult result = EmptyRecycleBin(status, recycle, *mailbox, cancel, record);
        QCOMPARE(removedWhenWritten, 0);
        QCOMPARE(outcomes, settled);
        QCOMPARE(result.deleted.size(), settled.count(QLatin1Char('1')));
        QCOMPARE(result.changed, settled.count(QLatin1Char('0')));
        QStringList stayed;
        for (int r = 0; r < recycle.count(); ++r)
            stayed << recycle.entry(r).uid;
        QCOMPARE(stayed, left);
        QCOMPARE(result.outcome(), failAt < 0 ? MailOutcome::Done : MailOutcome::ConnectionFailed);
        if (failAt >= 0)
            QVERIFY2(result.result.text.contains(QStringLiteral("1 message was deleted before that")),
                     qPrintable(result.result.text));
    }

    // A key reaches only the session that made it: another never acts on it.
    void keysOfAnotherSessionAreNeverActedOn()
    {
        FakeMailbox other(QStringList{"a@x.example"});
        QList<RemovalAnswer> answers;
        QVERIFY(
            other.remove({mailbox->keyFor(2), MessageKey()}, [&](qsizetype, RemovalAnswer a) { answers << a; }).ok());
        QCOMPARE(other.removed, (QList<qint64>{-1, -1}));
        QCOMPARE(answers, (QList<RemovalAnswer>{RemovalAnswer::Gone, RemovalAnswer::Gone}));
        QVERIFY(mailbox->keyFor(2) == mailbox->keyFor(2));
        QVERIFY(!(other.keyFor(2) == mailbox->keyFor(2)));
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
