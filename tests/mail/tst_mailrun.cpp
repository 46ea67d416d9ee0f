#include "CancelFlag.h"
#include "DeletionHistory.h"
#include "Dialer.h"
#include "MailProtocols.h"
#include "MailRun.h"
#include "MailboxSession.h"
#include "MessageFolderModel.h"
#include "ProfileRecord.h"
#include "RecordingStatus.h"
#include "RespondingConnection.h"
#include "RuleDatabase.h"
#include "ScriptedImapServer.h"
#include "SortingAhead.h"
#include "TestSupport.h"
#include "WindowWords.h"

#include <QTest>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

// The runs both front ends use, over connections in memory: a protocol
// that exists only here, added through the registry alone, and POP3 over a
// connection the run was given instead of a socket, and IMAP likewise.

namespace {

class QuietDialer : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &, CancelFlag &) override { }
    void HangUp() override { }
};

class NoProgress : public ProgressControl {
public:
    void closeDialog() override { }
    void repaintNow() override { }
};

// Asks nobody and remembers what it was told.
class TellingPerson : public RunPerson {
public:
    RunStatus &status() override { return m_status; }
    void whileInProgress(ProgressKind, const std::function<void(ProgressControl &)> &work) override
    {
        NoProgress progress;
        work(progress);
    }
    std::optional<QString> askPassword(const QString &) override { return std::nullopt; }
    CertificateDecision askCertificate(const QString &, const QList<QSslCertificate> &,
                                       const QList<QSslError> &) override
    {
        return {};
    }
    void keepCertificate(const QString &, const QString &) override { }
    void keepRefreshToken(const QString &, const QString &) override { }
    void notReady(const ProfileReadiness &why) override { told << QStringLiteral("not ready: ") + why.server; }
    void report(const MailResult &result) override { told << result.text; }
    void historyTrouble(const QString &error) override { told << error; }

    QStringList told;

private:
    RecordingStatus m_status;
};

struct StoredMessage {
    QString id;
    QByteArray header;
};

// A mailbox protocol of a few lines: what a new protocol writes, and no more.
class MemoryMailbox : public MailboxSession {
public:
    explicit MemoryMailbox(QList<StoredMessage> &store)
        : m_store(store)
    {
    }
    MailResult open() override { return MailResult::done(); }
    MailResult list(MailboxListing &listing) override
    {
        for (qsizetype i = 0; i < m_store.size(); ++i)
            listing.messages.append({qint32(i + 1), m_store.at(i).id, m_store.at(i).header.size(), makeKey(i)});
        return MailResult::done();
    }
    MailResult readHeaders(const MailboxListing &listing, const HeaderSink &sink) override
    {
        for (qsizetype k = 0; k < listing.size(); ++k) {
            const QByteArray &header = m_store.at(k).header;
            // An empty header stands for one the server would not give.
            if (!sink({k, header, header.isEmpty(), true, header.size()}))
                break;
        }
        return MailResult::done();
    }
    MailResult locate(const QList<MessageIdentity> &rows, QList<LocatedMessage> &found) override
    {
        for (const MessageIdentity &row : rows) {
            qsizetype at = 0;
            while (at < m_store.size() && m_store.at(at).id != row.uid)
                ++at;
            found.append(at < m_store.size() ? LocatedMessage{LocatedMessage::State::Found, makeKey(quint64(at))}
                                             : LocatedMessage{LocatedMessage::State::Changed, {}});
        }
        return MailResult::done();
    }
    MailResult remove(const QList<MessageKey> &keys, const RemovalSink &sink) override
    {
        for (qsizetype i = 0; i < keys.size(); ++i) {
            const std::optional<quint64> at = keyValue(keys.at(i));
            const bool mine = at && *at < quint64(m_store.size());
            if (mine)
                m_removed.insert(m_store.at(qsizetype(*at)).id);
            sink(i, mine ? RemovalAnswer::Removed : RemovalAnswer::Gone);
        }
        return MailResult::done();
    }
    MailResult commit() override
    {
        m_store.removeIf([this](const StoredMessage &m) { return m_removed.contains(m.id); });
        return MailResult::done();
    }
    void close() override { }

private:
    QList<StoredMessage> &m_store;
    QSet<QString> m_removed;
};

QByteArray header(const QString &from, const QString &subject)
{
    return QStringLiteral("From: %1\r\nSubject: %2\r\n\r\n").arg(from, subject).toUtf8();
}

// A POP3 server of three messages whose unique ids are nothing like their
// numbers; DELE takes effect at QUIT, as it must.
struct Pop3Memory {
    QList<StoredMessage> messages;
    QSet<int> marked;
    QStringList commands;

    QByteArray answer(const QByteArray &line)
    {
        commands << QString::fromLatin1(line);
        const QList<QByteArray> words = line.split(' ');
        const QByteArray verb = words.value(0).toUpper();
        const int n = words.value(1).toInt();
        const bool known = n >= 1 && n <= messages.size() && !marked.contains(n);
        if (verb == "CAPA")
            return "+OK\r\nUIDL\r\nTOP\r\nUSER\r\nPIPELINING\r\n.\r\n";
        if (verb == "USER" || verb == "PASS" || verb == "NOOP")
            return "+OK\r\n";
        if (verb == "STAT")
            return QByteArray("+OK ") + QByteArray::number(messages.size() - marked.size()) + " 0\r\n";
        if ((verb == "UIDL" || verb == "LIST") && words.size() == 1) {
            QByteArray out = "+OK\r\n";
            for (int i = 1; i <= messages.size(); ++i) {
                if (!marked.contains(i))
                    out += QByteArray::number(i) + ' '
                        + (verb == "UIDL" ? messages.at(i - 1).id.toLatin1()
                                          : QByteArray::number(messages.at(i - 1).header.size()))
                        + "\r\n";
            }
            return out + ".\r\n";
        }
        if (verb == "TOP" && known)
            return "+OK\r\n" + messages.at(n - 1).header + ".\r\n";
        if (verb == "DELE" && known) {
            marked.insert(n);
            return "+OK\r\n";
        }
        if (verb == "QUIT") {
            for (auto it = messages.size(); it >= 1; --it)
                if (marked.contains(int(it)))
                    messages.removeAt(it - 1);
            return "+OK\r\n";
        }
        return "-ERR unexpected\r\n";
    }
};

// A scripted IMAP server that says, as the session lets it go, whether its
// transcript was followed to the end.
class CheckedImapServer : public ScriptedImapServer {
public:
    explicit CheckedImapServer(QStringList &problems)
        : m_problems(problems)
    {
    }
    ~CheckedImapServer() override
    {
        QString why;
        if (!verify(&why))
            m_problems << why;
    }

private:
    QStringList &m_problems;
};

QByteArray imapHeaderFetch(int sequence, quint32 uid, const QByteArray &from)
{
    const QByteArray header = "From: " + from + "\r\nSubject: s\r\n\r\n";
    return "* " + QByteArray::number(sequence) + " FETCH (UID " + QByteArray::number(uid) + " RFC822.SIZE 900 FLAGS () "
        + "BODY[HEADER] {" + QByteArray::number(header.size()) + "}\r\n" + header + ")";
}

QStringList idsOf(const QList<StoredMessage> &messages)
{
    QStringList ids;
    for (const StoredMessage &m : messages)
        ids << m.id;
    return ids;
}

} // namespace

class TestMailRun : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        QString error;
        QVERIFY2(rules.OpenRuleDatabase(&error), qPrintable(error));
    }
    void init()
    {
        settings = {};
        settings.EmailHost = QStringLiteral("mail.example");
        settings.EmailPort = QStringLiteral("110");
        settings.EmailUserid = QStringLiteral("user");
        settings.EmailPassword = QStringLiteral("secret");
        person.told.clear();
        inbox.clear();
        recycle.clear();
    }

    void protocolAddedThroughRegistryAlone();
    void pop3OverGivenConnection();
    void imapOverGivenConnections();
    void secondPartJudgesBesideTheReading();
    void readingAheadOfTheJudgingWaits();

private:
    // The profile on a protocol added to `protocols` alone, over `store`.
    SessionOptions memoryProtocol(MailProtocols &protocols, QList<StoredMessage> &store)
    {
        MailProtocolEntry memory;
        memory.name = QStringLiteral("MEMORY");
        memory.serverWords = QStringLiteral("memory server");
        memory.mailbox = [&store](RunStatus &, const ProfileSettingsRecord &, CancelFlag &, SessionOptions) {
            return std::make_unique<MemoryMailbox>(store);
        };
        memory.removalDeletes = [](const ProfileSettingsRecord &) { return true; };
        protocols.add(memory);
        settings.MailProtocol = QStringLiteral("memory");
        SessionOptions options;
        options.protocols = &protocols;
        return options;
    }
    MailRun::CheckResult checkAndEmpty(SessionOptions options)
    {
        const MessageClassifier classify = [](const QString &sender, QByteArrayView header, qint64 size) {
            return RuleClassifier::fromLists({QStringLiteral("spam@junk.example")}, {}).classify(sender, header, size);
        };
        const MailRun::Target target{settings, QStringLiteral("Memory"), cancel, dialer, person};
        return MailRun::check(
            target, inbox, recycle, classify, rules, true, [] {}, std::move(options));
    }
    QStringList historyIds() const
    {
        QStringList ids;
        const std::optional<QList<DeletionRecord>> records =
            DeletionHistory(const_cast<RuleDatabase &>(rules)).read(nullptr);
        for (const DeletionRecord &record : records.value_or(QList<DeletionRecord>{}))
            ids << record.uid;
        return ids;
    }

    testsupport::TempHome home;
    RuleDatabase rules{home.appDataFolder()};
    ProfileSettingsRecord settings;
    CancelFlag cancel;
    QuietDialer dialer;
    TellingPerson person;
    MessageFolderModel inbox;
    MessageFolderModel recycle;
};

void TestMailRun::protocolAddedThroughRegistryAlone()
{
    QList<StoredMessage> store{{QStringLiteral("m-17"), header(QStringLiteral("friend@home.example"), "hi")},
                               {QStringLiteral("m-4"), header(QStringLiteral("spam@junk.example"), "win")},
                               {QStringLiteral("m-90"), header(QStringLiteral("boss@work.example"), "plan")}};
    MailProtocols protocols;
    const SessionOptions options = memoryProtocol(protocols, store);

    const MailRun::CheckResult result = checkAndEmpty(options);
    QCOMPARE(result.fetched, MailOutcome::Done);
    QVERIFY(result.deletion);
    QCOMPARE(result.deletion->deleted.size(), 1);
    QCOMPARE(idsOf(store), (QStringList{QStringLiteral("m-17"), QStringLiteral("m-90")}));
    QCOMPARE(inbox.count(), 2);
    QCOMPARE(recycle.count(), 0);
    QVERIFY(historyIds().contains(QStringLiteral("m-4")));

    // The words of a refusal come from the entry too.
    settings.EmailHost.clear();
    const MailResult refused = FetchHeader(person.status(), inbox, recycle, {}, settings, cancel, options);
    QVERIFY(WindowWords::text(refused.text, refused.reason, refused.protocolServer)
                .contains(QStringLiteral("memory server")));
}

void TestMailRun::pop3OverGivenConnection()
{
    Pop3Memory server;
    server.messages = {{QStringLiteral("Zq81-a"), header(QStringLiteral("spam@junk.example"), "one")},
                       {QStringLiteral("7"), header(QStringLiteral("friend@home.example"), "two")},
                       {QStringLiteral("x_3"), header(QStringLiteral("spam@junk.example"), "three")}};
    int connections = 0;
    SessionOptions options;
    options.inactivityLimitMs = 20000;
    options.connection = [&server, &connections]() -> std::unique_ptr<MailConnection> {
        ++connections;
        return std::make_unique<RespondingConnection>("+OK ready\r\n", [&server](const QByteArray &line) {
            return server.answer(line);
        });
    };

    const MailRun::CheckResult result = checkAndEmpty(options);
    QVERIFY2(person.told.isEmpty(), qPrintable(person.told.join(u'\n')));
    QCOMPARE(result.fetched, MailOutcome::Done);
    QCOMPARE(connections, 1);
    QVERIFY(result.deletion);
    QCOMPARE(result.deletion->deleted.size(), 2);
    QCOMPARE(idsOf(server.messages), QStringList{QStringLiteral("7")});
    QVERIFY(server.commands.contains(QStringLiteral("DELE 1")));
    QVERIFY(server.commands.contains(QStringLiteral("DELE 3")));
    QCOMPARE(server.commands.last(), QStringLiteral("QUIT"));
    const QStringList history = historyIds();
    QVERIFY(history.contains(QStringLiteral("Zq81-a")) && history.contains(QStringLiteral("x_3")));
}

// The check reads the folder and the Empty then moves by UID, in the one
// session the run was given: UIDs far from the messages' numbers, answers
// in small pieces, and any command off the transcript fails the test.
void TestMailRun::imapOverGivenConnections()
{
    QStringList problems;
    const auto script = [](ScriptedImapServer &s) {
        const QByteArray moveUidplus = "IMAP4rev1 MOVE UIDPLUS";
        s.greet("* OK [CAPABILITY " + moveUidplus + "] ready");
        s.expect("LOGIN \"user\" \"secret\"", {}, "OK in");
        s.expect("CAPABILITY", {"* CAPABILITY " + moveUidplus});
        s.expect("EXAMINE \"INBOX\"", {"* 3 EXISTS", "* OK [UIDVALIDITY 5] ok"}, "OK [READ-ONLY] done");
        s.expect("UID FETCH 1:* (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])",
                 {imapHeaderFetch(1, 4000000001u, "spam@junk.example"), imapHeaderFetch(2, 70, "friend@home.example"),
                  imapHeaderFetch(3, 3999999999u, "spam@junk.example")});
        s.inPieces(5);
        s.expect("SELECT \"INBOX\"", {"* 3 EXISTS", "* OK [UIDVALIDITY 5] ok"}, "OK [READ-WRITE] done");
        s.expect("LIST \"\" \"*\"", {"* LIST (\\HasNoChildren) \"/\" INBOX", "* LIST (\\HasNoChildren) \"/\" Spam"});
        s.expect("UID SEARCH UID 3999999999,4000000001 UNDELETED", {"* SEARCH 4000000001 3999999999"});
        s.expect("UID MOVE 3999999999,4000000001 \"Spam\"",
                 {"* OK [COPYUID 9 3999999999,4000000001 1:2] moved", "* 3 EXPUNGE", "* 1 EXPUNGE"});
        s.inPieces(5);
        s.expect("LOGOUT", {"* BYE"});
    };
    SessionOptions options;
    options.inactivityLimitMs = 20000;
    int connections = 0;
    options.connection = [&script, &problems, &connections]() -> std::unique_ptr<MailConnection> {
        auto server = std::make_unique<CheckedImapServer>(problems);
        if (++connections == 1)
            script(*server);
        return server;
    };
    settings.MailProtocol = QStringLiteral("IMAP");
    settings.EmailPort = QStringLiteral("143");

    const MailRun::CheckResult result = checkAndEmpty(options);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    QVERIFY2(person.told.isEmpty(), qPrintable(person.told.join(u'\n')));
    QCOMPARE(connections, 1);
    QCOMPARE(result.fetched, MailOutcome::Done);
    QVERIFY(result.deletion);
    QCOMPARE(result.deletion->deleted.size(), 2);
    QCOMPARE(inbox.count(), 1);
    QCOMPARE(inbox.entry(0).uid, QStringLiteral("5/70"));
    const QStringList history = historyIds();
    QVERIFY(history.contains(QStringLiteral("5/4000000001")) && history.contains(QStringLiteral("5/3999999999")));
}

// A classifier's second part judges what the rules left, on worker threads
// while the fetch reads on: every row reaches its folder, in the order read
// (a header the server refused among them), with the second part's reason;
// it never sees a row the rules decided.
void TestMailRun::secondPartJudgesBesideTheReading()
{
    QList<StoredMessage> store;
    const auto refused = [](int i) { return i % 97 == 5; };
    const auto byRules = [&](int i) { return !refused(i) && i % 7 == 0; };
    const auto bySecond = [&](int i) { return !refused(i) && i % 7 != 0 && i % 3 == 0; };
    int toJudge = 0;
    int toLearn = 0;
    for (int i = 0; i < 1500; ++i) {
        const QString from = i % 7 == 0 ? QStringLiteral("spam@junk.example")
                                        : QStringLiteral("p%1@mail.example").arg(i);
        store.append({QStringLiteral("id-%1x").arg(7919 * i % 10007),
                      refused(i) ? QByteArray() : header(from, i % 3 == 0 ? "offer" : "hello")});
        toJudge += !refused(i) && !byRules(i);
        toLearn += bySecond(i);
    }
    MailProtocols protocols;
    const SessionOptions options = memoryProtocol(protocols, store);

    QThread *const reading = QThread::currentThread();
    std::atomic<int> judged = 0, onReadingThread = 0, ofRules = 0;
    const RuleClassifier rulesOnly = RuleClassifier::fromLists({QStringLiteral("spam@junk.example")}, {});
    const MessageClassifier classify([&rulesOnly](const QString &sender, QByteArrayView header,
                                                  qint64 size) { return rulesOnly.classify(sender, header, size); },
                                     [&](QByteArrayView header) -> std::optional<SortReason> {
                                         ++judged;
                                         onReadingThread += QThread::currentThread() == reading;
                                         ofRules += header.contains("junk.example");
                                         if (!header.contains("Subject: offer"))
                                             return std::nullopt;
                                         return SortReason::learned(SortReason::Verdict::Spam, 97,
                                                                    {QStringLiteral("subject words seen in spam")});
                                     });
    const MailResult fetched = FetchHeader(person.status(), inbox, recycle, classify, settings, cancel, options);
    QVERIFY2(fetched.ok(), qPrintable(fetched.text));
    QCOMPARE(inbox.count() + recycle.count(), 1500);
    QCOMPARE(judged.load(), toJudge); // every row but the rules' own and the refused
    QCOMPARE(ofRules.load(), 0);
    QCOMPARE(onReadingThread.load(), 0);
    int learnedSpam = 0;
    for (const MessageFolderModel *folder : {&inbox, &recycle}) {
        for (int r = 0; r < folder->count(); ++r) {
            const MessageEntry &row = folder->entry(r);
            QVERIFY2(r == 0 || folder->entry(r - 1).number < row.number, "rows in the order read");
            const int i = row.number - 1;
            QCOMPARE(folder == &recycle, byRules(i) || bySecond(i));
            QCOMPARE(row.sortReason.kind,
                     bySecond(i)      ? SortReason::Kind::Learned
                         : byRules(i) ? SortReason::Kind::Filter
                                      : SortReason::Kind::NoRule);
            learnedSpam += row.sortReason.kind == SortReason::Kind::Learned
                && row.sortReason.reasons == QStringList{QStringLiteral("subject words seen in spam")};
        }
    }
    QCOMPARE(learnedSpam, toLearn);
}

// Every turn of the event loop sends the rows read meanwhile; a judging
// that lags makes the reading wait, so that the rows held stay bounded
// however fast the reading. Here each row's judging waits until the
// reading is that bound ahead of it: a reading that never waited would
// soon hold more.
void TestMailRun::readingAheadOfTheJudgingWaits()
{
    std::mutex lock;
    std::condition_variable moved;
    qint32 added = 0;
    qint32 rows = 0; // all there will be
    qsizetype bound = 0;
    const MessageClassifier classify([](const QString &, QByteArrayView, qint64) { return SortReason(); },
                                     [&](QByteArrayView header) -> std::optional<SortReason> {
                                         const qint32 number = header.sliced(9).toInt(); // "Subject: N"
                                         std::unique_lock held(lock);
                                         moved.wait(held,
                                                    [&] { return added >= std::min<qint64>(rows, number + bound); });
                                         return std::nullopt;
                                     });
    qint32 taken = 0;
    SortingAhead ahead(classify, [&taken](MessageEntry &&row) { QCOMPARE(row.number, ++taken); });
    bound = ahead.maxRowsInFlight();
    rows = qint32(3 * bound);
    qsizetype mostHeld = 0;
    for (qint32 number = 1; number <= rows; ++number) {
        {
            const std::lock_guard held(lock);
            added = number;
        }
        moved.notify_all();
        MessageEntry row;
        row.number = number;
        ahead.add(std::move(row), "Subject: " + QByteArray::number(number));
        ahead.handOnDone();
        mostHeld = std::max<qsizetype>(mostHeld, number - taken);
    }
    ahead.finish();
    QCOMPARE(taken, rows);
    QVERIFY2(mostHeld <= bound, qPrintable(QString::number(mostHeld)));
}

QTEST_GUILESS_MAIN(TestMailRun)
#include "tst_mailrun.moc"
