// --learn-spam, --learn-ham and --classify run as the program, against a
// private home: mbox, Maildir and single files teach; hostile files are
// refused quickly and clearly, or read within the header's bound.
#include "../cli/ProgramRun.h"
#include "DeletionHistory.h"
#include "HeaderScan.h"
#include "ProfileKeys.h"
#include "ProfileStore.h"
#include "RuleDatabase.h"
#include "SampleImapServer.h"
#include "SamplePop3Server.h"
#include "Scramble.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QtTest>

#include <sys/stat.h>

namespace {

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray spam(int i)
{
    return "From: \"Prize Desk\" <win" + QByteArray::number(i) + "@prizes.example>\nSubject: You won a prize "
        + QByteArray::number(i) + "\nMessage-ID: <" + QByteArray::number(i) + "@prizes.example>\n\nClaim it.\n";
}

QByteArray ham(int i)
{
    return "From: Ann Colleague <ann@work.example>\r\nSubject: Minutes of meeting " + QByteArray::number(i)
        + "\r\nList-Id: <team.work.example>\r\n\r\nSee attached.\r\n";
}

} // namespace

class TestLearnCommand : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        ProfileSettingsRecord record;
        record.EmailHost = QStringLiteral("127.0.0.1");
        record.EmailUserid = QStringLiteral("user");
        ProfileStore::SaveOptions asLast;
        asLast.makeLast = true; // the options below name no profile
        QVERIFY(ProfileStore().save(QStringLiteral("Work"), record, asLast).settings.ok);
        // Spam as an mbox file, good mail as a Maildir.
        QByteArray mbox;
        for (int i = 0; i < 6; ++i)
            mbox += "From win@prizes.example Mon Dec  7 10:00:00 2026\n" + spam(i) + "\n";
        QVERIFY(write(m_home.path() + QStringLiteral("/spam.mbox"), mbox));
        QVERIFY(QDir().mkpath(m_home.path() + QStringLiteral("/good/cur")));
        for (int i = 0; i < 6; ++i)
            QVERIFY(write(m_home.path() + QStringLiteral("/good/cur/%1.eml").arg(i), ham(i)));
        const ProgramResult learnedSpam =
            runProgram({QStringLiteral("--learn-spam"), m_home.path() + QStringLiteral("/spam.mbox")});
        QVERIFY2(learnedSpam.code == 0, learnedSpam.err.constData());
        QVERIFY2(learnedSpam.out.startsWith("Learned 6 messages"), learnedSpam.out.constData());
        const ProgramResult learnedHam =
            runProgram({QStringLiteral("--learn-ham"), m_home.path() + QStringLiteral("/good")});
        QCOMPARE(learnedHam.code, 0);
        QVERIFY2(learnedHam.out.startsWith("Learned 6 messages"), learnedHam.out.constData());
        // Read again, the file teaches nothing new, and says so.
        const ProgramResult again =
            runProgram({QStringLiteral("--learn-spam"), m_home.path() + QStringLiteral("/spam.mbox")});
        QVERIFY2(again.out.startsWith("Learned 0 messages") && again.out.contains(" 6 had been learned before."),
                 again.out.constData());
    }

    void classifiesInTextAndJson()
    {
        const QString file = m_home.path() + QStringLiteral("/new.eml");
        QVERIFY(write(file, spam(99)));
        const ProgramResult text = runProgram({QStringLiteral("--classify"), file});
        QCOMPARE(text.code, 0);
        QVERIFY2(text.out.startsWith("spam: Learned: "), text.out.constData());
        const ProgramResult json = runProgram({QStringLiteral("--classify"), file, QStringLiteral("--json")});
        QCOMPARE(json.code, 0);
        QCOMPARE(json.json().value(QStringLiteral("verdict")).toString(), QStringLiteral("spam"));
        QVERIFY(json.json().value(QStringLiteral("score")).toInt() >= 99);
        const QJsonArray reasons = json.json().value(QStringLiteral("reasons")).toArray();
        QVERIFY(!reasons.isEmpty() && reasons.size() <= 3);
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("says");
        QByteArray endless = "Subject: x\n";
        while (endless.size() < 10 * 1024 * 1024)
            endless += "X-Filler: " + QByteArray(70, 'a') + "\n";
        QTest::newRow("10 MB header without an end") << endless << 1 << QByteArray("does not end within");
        QTest::newRow("one 10 MB line") << "Subject: " + QByteArray(10 * 1024 * 1024, 'b') << 1
                                        << QByteArray("does not end within");
        QTest::newRow("NUL in the header")
            << QByteArray("From: a@b.example\nSubject: a\0b\n\n", 32) << 1 << QByteArray("NUL");
        QTest::newRow("empty") << QByteArray() << 1 << QByteArray("holds no header");
        QTest::newRow("text without a field")
            << QByteArray("Read me first.\nNothing here is mail.\n") << 1 << QByteArray("none of a mail header's");
        QTest::newRow("notes, colons and all")
            << QByteArray("Notes: read me first.\nTo do: nothing\n") << 1 << QByteArray("none of a mail header's");
        QTest::newRow("a message in a JSON record")
            << QByteArray(R"({"id":"1","text":"From: a@b.example\nSubject: hi\n\nbody"})") << 1
            << QByteArray("none of a mail header's");
        QTest::newRow("invalid UTF-8 is read")
            << QByteArray("From: \xff\xfe <a@prizes.example>\nSubject: \xc3\n\n") << 0 << QByteArray("Learned: ");
        QTest::newRow("no blank line, small: all header")
            << QByteArray("From: Ann Colleague <ann@work.example>\nSubject: Minutes") << 0 << QByteArray("good: ");
    }
    void hostileFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);
        QFETCH(QByteArray, says);
        const QString file = m_home.path() + QStringLiteral("/hostile.eml");
        QVERIFY(write(file, bytes));
        const ProgramResult run = runProgram({QStringLiteral("--classify"), file});
        QCOMPARE(run.code, code);
        QVERIFY2((code == 0 ? run.out : run.err).contains(says), (run.out + run.err).constData());
    }

    // A body line longer than a read comes in pieces: a piece that only
    // looks like a "From " line starts no message, nor does an unquoted one
    // in a body that follows no blank line. A file where nothing at all is
    // mail fails.
    void mboxLinesInPiecesAndNothingButRefusals()
    {
        const QString file = m_home.path() + QStringLiteral("/long.mbox");
        QVERIFY(write(file,
                      "From a@prizes.example Mon Dec  7 10:00:00 2026\n" + spam(40)
                          + "From here on it is the body\nNote: still the body\n\n" + QByteArray(256 * 1024 - 1, 'A')
                          + "From evil Mon Dec  7 10:00:00 2026\nFrom: Injected <x@evil.example>\n\n"));
        const ProgramResult run = runProgram({QStringLiteral("--learn-spam"), file});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.startsWith("Learned 1 messages"), run.out.constData());
        static const char withNul[] = "From a@b Mon Dec  7 10:00:00 2026\nSubject: a\0b\n\n";
        QVERIFY(write(file, QByteArray(withNul, sizeof withNul - 1)));
        const ProgramResult refused = runProgram({QStringLiteral("--learn-spam"), file});
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.out.contains("1 could not be read as mail"), refused.out.constData());
    }

    // A message piped in is read from the handle that was peeked at; in a
    // folder, a link to a pipe is no message and is never opened (that
    // would wait for a writer for ever).
    void pipesAndLinksToThem()
    {
        ProgramStart piped;
        piped.input = spam(7);
        const ProgramResult fromPipe = runProgram({QStringLiteral("--learn-spam"), QStringLiteral("/dev/stdin")},
                                                  piped);
        QCOMPARE(fromPipe.code, 0);
        QVERIFY2(fromPipe.out.startsWith("Learned 1 messages"), fromPipe.out.constData());

        const QString maildir = m_home.path() + QStringLiteral("/linked");
        QVERIFY(QDir().mkpath(maildir + QStringLiteral("/cur")));
        QVERIFY(write(maildir + QStringLiteral("/cur/1.eml"), ham(7)));
        const QByteArray fifo = QFile::encodeName(m_home.path() + QStringLiteral("/fifo"));
        QCOMPARE(mkfifo(fifo.constData(), 0600), 0);
        QVERIFY(QFile::link(QString::fromLocal8Bit(fifo), maildir + QStringLiteral("/cur/2.eml")));
        const ProgramResult linked = runProgram({QStringLiteral("--learn-ham"), maildir});
        QCOMPARE(linked.code, 0);
        QVERIFY2(linked.out.startsWith("Learned 1 messages"), linked.out.constData());
    }

    // Over POP3 the timer's --delete leaves learned spam on the server for
    // the window's review unless the profile allows it; rules' spam goes.
    void deleteTakesLearnedSpamOnlyWhereAllowed()
    {
        const QList<SamplePop3Server::Message> mail = {{SamplePop3Server::toCrLf(spam(300)), QStringLiteral("s1"), {}},
                                                       {SamplePop3Server::toCrLf(ham(300)), QStringLiteral("h1"), {}}};
        SamplePop3Server server(mail, "demo", "demo");
        QVERIFY(server.listen());
        using namespace modRegistry;
        const QString key = kSettingKeyPrefix + QStringLiteral("Work");
        QString password = QStringLiteral("demo");
        QVERIFY(WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPort"), REG_SZ,
                                QString::number(server.port())));
        QVERIFY(WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailUserId"), REG_SZ, QStringLiteral("demo")));
        QVERIFY(WriteStoreValue(HKEY_CURRENT_USER, key, QStringLiteral("EmailPassword"), REG_SZ,
                                modSecurity::ScrambleText(password)));
        const QStringList checkDelete = {QStringLiteral("--check"), QStringLiteral("--delete"),
                                         QStringLiteral("--json")};

        const ProgramResult held = runProgram(checkDelete);
        QVERIFY2(held.code == 0, held.err.constData());
        QCOMPARE(server.messageCount(), 2);
        QCOMPARE(held.json().value(QStringLiteral("deleted")).toInt(), 0);
        const QJsonObject row = held.json().value(QStringLiteral("messages")).toArray().at(0).toObject();
        QCOMPARE(row.value(QStringLiteral("uid")).toString(), QStringLiteral("s1"));
        QCOMPARE(row.value(QStringLiteral("folder")).toString(), QStringLiteral("Inbox"));
        QVERIFY2(
            row.value(QStringLiteral("rule")).toString().contains(QStringLiteral("like your spam, kept for review")),
            qPrintable(row.value(QStringLiteral("rule")).toString()));
        // Still learned spam, not "unsure": kept only because --delete may not take it.
        const QJsonObject learned = row.value(QStringLiteral("learned")).toObject();
        QCOMPARE(learned.value(QStringLiteral("verdict")).toString(), QStringLiteral("spam"));
        QCOMPARE(learned.value(QStringLiteral("keptForReview")), QJsonValue(true));
        QCOMPARE(held.json().value(QStringLiteral("keptForReview")).toInt(), 1);
        QCOMPARE(held.json().value(QStringLiteral("inbox")).toInt(), 2);
        const QJsonObject goodRow = held.json().value(QStringLiteral("messages")).toArray().at(1).toObject();
        QCOMPARE(goodRow.value(QStringLiteral("learned")).toObject().value(QStringLiteral("keptForReview")),
                 QJsonValue(false));
        // A check without --delete tells the same, not "to be deleted".
        const ProgramResult preview = runProgram({QStringLiteral("--check")});
        QVERIFY2(preview.out.startsWith("Inbox\t")
                     && preview.out.contains("; 1 learned spam kept for review in the Inbox"),
                 preview.out.constData());

        QVERIFY(WriteStoreValue(HKEY_CURRENT_USER, key, ProfileKeys::kDeleteLearnedSpam, REG_SZ, QStringLiteral("1")));
        const ProgramResult allowed = runProgram(checkDelete);
        QVERIFY2(allowed.code == 0, allowed.err.constData());
        QCOMPARE(allowed.json().value(QStringLiteral("deleted")).toInt(), 1);
        QCOMPARE(server.messageCount(), 1);
        const QJsonObject gone = allowed.json().value(QStringLiteral("messages")).toArray().at(0).toObject();
        QCOMPARE(gone.value(QStringLiteral("learned")).toObject().value(QStringLiteral("verdict")).toString(),
                 QStringLiteral("spam"));
    }

    // An IMAP profile learns from its server's Junk folder and INBOX, read
    // only; again, nothing new; a message the learning itself moved to Junk,
    // or a filter rule's hit or the learning's spam in INBOX, teaches
    // nothing, nor overrides the user's own lesson; a POP3 profile has no
    // folders to learn from.
    void learnsFromServerFolders()
    {
        QList<QByteArray> inbox, junk;
        for (int i = 400; i < 404; ++i) {
            inbox.append(SamplePop3Server::toCrLf(ham(i)));
            junk.append(SamplePop3Server::toCrLf(spam(i)));
        }
        inbox.append(SamplePop3Server::toCrLf(spam(404))); // fetched, and waiting in the Recycle Bin
        SampleImapServer server(inbox, "ann", "secret");
        QVERIFY(server.listen());
        for (const QByteArray &message : junk)
            server.deliver(message, QStringLiteral("Junk"));
        ProfileSettingsRecord record;
        record.MailProtocol = QStringLiteral("IMAP");
        record.EmailHost = QStringLiteral("127.0.0.1");
        record.EmailPort = QString::number(server.port());
        record.EmailUserid = QStringLiteral("ann");
        record.EmailPassword = QStringLiteral("secret");
        QVERIFY(ProfileStore().save(QStringLiteral("Imap"), record, {}).settings.ok);
        {
            // The last Junk message is there because the learning moved it unattended.
            RuleDatabase rules;
            QVERIFY(rules.OpenRuleDatabase());
            const HeaderScan::ShownFields shown = HeaderScan::shownFields(junk.constLast());
            DeletionRecord moved;
            moved.time = QDateTime::currentDateTimeUtc();
            moved.profile = QStringLiteral("Imap");
            moved.sender = shown.from;
            moved.subject = shown.subject;
            moved.date = shown.date;
            moved.rule = QStringLiteral("Learned: 99 % like your spam");
            moved.action = QStringLiteral("moved to Junk");
            QVERIFY(DeletionHistory(rules).record({moved}, nullptr));
            // An unscreened INBOX message the user's rules call spam is no good mail.
            QVERIFY(rules.InsertRule(QStringLiteral("tbfilter"), QStringLiteral("Subject: *meeting 403*")));
        }
        // It has learned enough to judge before it reads its server; and the
        // user sent the first INBOX message to the Recycle Bin, not yet emptied.
        QVERIFY(write(m_home.path() + QStringLiteral("/moved.eml"), inbox.constFirst()));
        for (const auto &[option, path] : {std::pair{"--learn-spam", "/spam.mbox"}, std::pair{"--learn-ham", "/good"},
                                           std::pair{"--learn-spam", "/moved.eml"}})
            QCOMPARE(runProgram({QLatin1String(option), m_home.path() + QLatin1String(path),
                                 QStringLiteral("--profile"), QStringLiteral("Imap")})
                         .code,
                     0);
        const QStringList learn = {QStringLiteral("--learn-from-server"), QStringLiteral("--profile"),
                                   QStringLiteral("Imap")};
        const ProgramResult first = runProgram(learn + QStringList{QStringLiteral("--json")});
        QVERIFY2(first.code == 0, first.err.constData());
        const QJsonObject counts = first.json();
        QCOMPARE(counts.value(QStringLiteral("spam")).toInt(), 3);
        QCOMPARE(counts.value(QStringLiteral("good")).toInt(), 2);
        QCOMPARE(counts.value(QStringLiteral("decidedOtherwise")).toInt(), 1);
        QCOMPARE(counts.value(QStringLiteral("filtered")).toInt(), 1);
        QCOMPARE(counts.value(QStringLiteral("judgedSpam")).toInt(), 1);
        QCOMPARE(counts.value(QStringLiteral("ownVerdicts")).toInt(), 1);
        QCOMPARE(counts.value(QStringLiteral("known")).toInt(), 0);
        const QJsonObject junkRead = counts.value(QStringLiteral("folders")).toArray().at(0).toObject();
        QCOMPARE(junkRead.value(QStringLiteral("name")).toString(), QStringLiteral("Junk"));
        QCOMPARE(junkRead.value(QStringLiteral("read")).toInt(), 4);
        QVERIFY(!server.anySeen(QStringLiteral("INBOX")) && !server.anySeen(QStringLiteral("Junk")));

        const ProgramResult again = runProgram(learn);
        QVERIFY2(again.code == 0, again.err.constData());
        QVERIFY2(again.out.startsWith("Learned 0 spam and 0 good messages")
                     && again.out.contains("5 had been learned before")
                     && again.out.contains("1 had been learned the other way"),
                 again.out.constData());
        QCOMPARE(server.messageCount(QStringLiteral("Junk")), 4);

        const ProgramResult pop3 =
            runProgram({QStringLiteral("--learn-from-server"), QStringLiteral("--profile"), QStringLiteral("Work")});
        QCOMPARE(pop3.code, 3);
        QVERIFY2(pop3.err.contains("Only an IMAP profile"), pop3.err.constData());
    }

    // Profiles that share their learning teach and judge as one; the others
    // keep their own, and a reset of one sharing profile is the pool's.
    void sharedLearningIsOnePool()
    {
        ProfileSettingsRecord sharing;
        sharing.ShareLearning = QStringLiteral("1");
        for (const char *name : {"Alpha", "Beta"})
            QVERIFY(ProfileStore().save(QLatin1String(name), sharing, {}).settings.ok);
        QVERIFY(ProfileStore().save(QStringLiteral("Gamma"), ProfileSettingsRecord{}, {}).settings.ok);
        for (const auto &[option, path] :
             {std::pair{"--learn-spam", "/spam.mbox"}, std::pair{"--learn-ham", "/good"}}) {
            const ProgramResult learned = runProgram({QLatin1String(option), m_home.path() + QLatin1String(path),
                                                      QStringLiteral("--profile"), QStringLiteral("Alpha")});
            QVERIFY2(learned.code == 0
                         && learned.out.contains("for the profiles sharing their learning with \"Alpha\""),
                     learned.out.constData());
        }
        const QString file = m_home.path() + QStringLiteral("/shared.eml");
        QVERIFY(write(file, spam(97)));
        const auto verdict = [&file](const char *profile) {
            return runProgram({QStringLiteral("--classify"), file, QStringLiteral("--profile"), QLatin1String(profile)})
                .out;
        };
        QVERIFY(verdict("Beta").startsWith("spam: "));
        QVERIFY(verdict("Gamma").startsWith("none: "));
        const ProgramResult reset =
            runProgram({QStringLiteral("--reset-learning"), QStringLiteral("--profile"), QStringLiteral("Beta")});
        QCOMPARE(reset.out.trimmed(),
                 QByteArray("Forgot what the profiles sharing their learning with \"Beta\" had "
                            "learned (6 spam and 6 good messages)."));
        QVERIFY(verdict("Alpha").startsWith("none: "));
        QVERIFY(verdict("Work").startsWith("spam: ")); // its own, untouched
    }

    // One profile's learning is forgotten and the others' stay; --all
    // forgets every one's (so this runs last).
    void resetForgetsOneProfileOrAll()
    {
        QVERIFY(ProfileStore().save(QStringLiteral("Home"), ProfileSettingsRecord{}, {}).settings.ok);
        const QString home[] = {QStringLiteral("--profile"), QStringLiteral("Home")};
        for (const auto &[option, path] : {std::pair{"--learn-spam", "/spam.mbox"}, std::pair{"--learn-ham", "/good"}})
            QCOMPARE(runProgram({QLatin1String(option), m_home.path() + QLatin1String(path), home[0], home[1]}).code,
                     0);
        const QString file = m_home.path() + QStringLiteral("/new.eml");
        QVERIFY(write(file, spam(98)));
        const auto verdict = [&file](const QString &profile) {
            return runProgram({QStringLiteral("--classify"), file, QStringLiteral("--profile"), profile}).out;
        };
        QVERIFY(verdict(QStringLiteral("Home")).startsWith("spam: "));

        const ProgramResult one = runProgram({QStringLiteral("--reset-learning"), home[0], home[1]});
        QCOMPARE(one.code, 0);
        QCOMPARE(one.out.trimmed(),
                 QByteArray("Forgot what the profile \"Home\" had learned (6 spam and 6 good messages)."));
        QVERIFY2(verdict(QStringLiteral("Home")).startsWith("none: "), verdict(QStringLiteral("Home")).constData());
        QVERIFY(verdict(QStringLiteral("Work")).startsWith("spam: "));

        const ProgramResult all = runProgram({QStringLiteral("--reset-learning"), QStringLiteral("--all")});
        QCOMPARE(all.code, 0);
        QVERIFY(verdict(QStringLiteral("Work")).startsWith("none: "));
    }

private:
    testsupport::TempHome m_home;
};

QTEST_GUILESS_MAIN(TestLearnCommand)
#include "tst_learncommand.moc"
