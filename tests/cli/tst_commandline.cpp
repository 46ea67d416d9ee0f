// The command line end to end: the program started as a process, without a
// display, against the sample server, a scripted server and the private
// Dovecot, with the profile and rules in a private home.
#include "DeletionHistory.h"
#include "DovecotServer.h"
#include "FakeAuthServer.h"
#include "Learner.h"
#include "CancelFlag.h"
#include "MailOperations.h"
#include "MessageFolderModel.h"
#include "Profile.h"
#include "ProgramRun.h"
#include "RuleDatabase.h"
#include "RunStatus.h"
#include "SampleImapServer.h"
#include "SamplePop3Server.h"
#include "Scramble.h"
#include "ScrambledSecretStore.h"
#include "ScriptedPop3Server.h"
#include "SettingsStore.h"
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

using Result = ProgramResult;

// Runs the program with (unless a bus is given) no session bus.
Result trelvik(const QStringList &arguments, const QString &sessionBus = u"unix:path=/nonexistent/bus"_s)
{
    ProgramStart start;
    start.env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, sessionBus);
    return runProgram(arguments, start);
}

void writeProfile(const QString &name, quint16 port, const QString &user, const QString &password,
                  const QString &security = u"None"_s, const QString &trusted = {})
{
    using namespace modRegistry;
    const QString key = kSettingKeyPrefix + name;
    WriteStoreValue(HKEY_CURRENT_USER, key, u"EmailHost"_s, REG_SZ, u"127.0.0.1"_s);
    WriteStoreValue(HKEY_CURRENT_USER, key, u"EmailPort"_s, REG_SZ, QString::number(port));
    WriteStoreValue(HKEY_CURRENT_USER, key, u"EmailUserId"_s, REG_SZ, user);
    QString plain = password; // scrambling takes its text by reference
    WriteStoreValue(HKEY_CURRENT_USER, key, u"EmailPassword"_s, REG_SZ, modSecurity::ScrambleText(plain));
    WriteStoreValue(HKEY_CURRENT_USER, key, u"EmailSecurity"_s, REG_SZ, security);
    WriteStoreValue(HKEY_CURRENT_USER, key, u"TrustedCertificate"_s, REG_SZ, trusted);
    WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"LastProfile"_s, REG_SZ, name);
}

// The sample mail in memory: nothing on disk is removed at QUIT.
QList<SamplePop3Server::Message> sampleMail()
{
    QList<SamplePop3Server::Message> messages = SamplePop3Server::loadFolder(QStringLiteral(TRELVIK_SAMPLE_MAIL));
    for (SamplePop3Server::Message &m : messages)
        m.path.clear();
    return messages;
}

QJsonArray history(const QString &profile = {})
{
    QStringList args{u"--history"_s, u"--json"_s};
    if (!profile.isEmpty())
        args << u"--profile"_s << profile;
    return trelvik(args).json().value(u"deleted"_s).toArray();
}

QStringList field(const QJsonArray &list, const QString &name)
{
    QStringList values;
    for (const QJsonValue &v : list)
        values << v.toObject().value(name).toString();
    return values;
}

// Stands in for the desktop's notification service and keeps what it is told.
class FakeNotifications : public QDBusVirtualObject {
public:
    QStringList summaries;
    QStringList bodies;
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != "Notify"_L1 || message.arguments().size() != 8)
            return false;
        summaries << message.arguments().at(3).toString();
        bodies << message.arguments().at(4).toString();
        connection.send(message.createReply(QVariantList{7u}));
        return true;
    }
};

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TempHome> m_home;

    // Opens the rules, lets `use` change them, and closes them again: the
    // program keeps the file to itself while it runs.
    template <typename F>
    void withRules(F use)
    {
        RuleDatabase rules;
        QString error;
        QVERIFY2(rules.OpenRuleDatabase(&error), qPrintable(error));
        use(rules);
    }
    void sampleRules()
    {
        withRules([](RuleDatabase &r) {
            QVERIFY(r.InsertRule(u"tbfilter"_s, u"*@northwind.example"_s));
            QVERIFY(r.InsertRule(u"tbfilter"_s, u"pharma-store@cheap-meds.example"_s));
            QVERIFY(r.InsertRule(u"tbexempted"_s, u"Bjorn Aas <bjorn@northwind.example>"_s));
        });
    }

private Q_SLOTS:
    void init() { m_home = std::make_unique<testsupport::TempHome>(); }
    void cleanup() { m_home.reset(); }

    void checkSortsAsTheWindowAndDeletesNothing();
    void checkDeleteRemovesExactlyTheRecycleBin();
    void historyHoldsOnlyWhatTheServerRemoved_data();
    void historyHoldsOnlyWhatTheServerRemoved();
    void unconfirmedEntriesAreSettledByTheNextCheck();
    void listingsThatDisagreeAreAllScreened();
    void failuresHaveTheirExitCodes_data();
    void failuresHaveTheirExitCodes();
    void helpNamesBothProtocols();
    void unknownSecurityIsRefused_data();
    void unknownSecurityIsRefused();
    void timeoutEndsARunThatNeverFinishes_data();
    void timeoutEndsARunThatNeverFinishes();
    void oauthSignInThatNeedsTheBrowser_data();
    void oauthSignInThatNeedsTheBrowser();
    void ruleFiles();
    void dovecotCertificateAndPassword();
    void notificationAfterADeletion();
    void allProfilesInOneRun();
    void watchMovesArrivalsUntilSigterm();
};

void TestCommandLine::checkSortsAsTheWindowAndDeletesNothing()
{
    SamplePop3Server server(sampleMail(), "demo", "demo");
    QVERIFY(server.listen());
    writeProfile(u"Work"_s, server.port(), u"demo"_s, u"demo"_s);
    sampleRules();

    // The window's fetch, in this process, with the same rules.
    QHash<qint32, QString> windowFolder;
    QHash<qint32, QString> windowRule;
    withRules([&](RuleDatabase &rules) {
        MessageFolderModel inbox, recycle;
        testsupport::MessageBoxRecorder boxes;
        CancelFlag cancel;
        const auto settings = ReadProfile(u"Work"_s);
        struct : RunStatus {
            void setStatusText(const QString &) override { }
            void setProgressMaximum(int) override { }
            void setProgressValue(int) override { }
            void setNodeText(const QString &, const QString &) override { }
        } status;
        QCOMPARE(FetchHeader(status, inbox, recycle, RuleClassifier::lazy(rules), settings, cancel).kind,
                 MailOutcome::Done);
        for (int r = 0; r < inbox.count(); ++r)
            windowFolder.insert(inbox.entry(r).number, u"Inbox"_s);
        for (int r = 0; r < recycle.count(); ++r)
            windowFolder.insert(recycle.entry(r).number, u"Recycle Bin"_s);
        for (const MessageFolderModel *folder : {&inbox, &recycle}) {
            for (int r = 0; r < folder->count(); ++r)
                windowRule.insert(folder->entry(r).number, folder->entry(r).sortReason.text());
        }
        VERIFY_BOXES(boxes);
    });
    QCOMPARE(windowFolder.size(), server.messageCount());

    const Result json = trelvik({u"--check"_s, u"--json"_s});
    QVERIFY2(json.code == 0, json.err.constData());
    const QJsonArray messages = json.json().value(u"messages"_s).toArray();
    QCOMPARE(messages.size(), windowFolder.size());
    QHash<qint32, QString> cliFolder;
    QHash<qint32, QString> cliRule;
    for (const QJsonValue &v : messages) {
        const int number = v.toObject().value(u"number"_s).toInt();
        cliFolder.insert(number, v.toObject().value(u"folder"_s).toString());
        cliRule.insert(number, v.toObject().value(u"rule"_s).toString());
    }
    QCOMPARE(cliFolder, windowFolder);
    QCOMPARE(cliRule, windowRule);
    const int recycled = int(windowFolder.values().count(u"Recycle Bin"_s));
    QVERIFY(recycled > 1 && recycled < windowFolder.size());
    QStringList exempted; // its domain is filtered, the sender exempted
    for (const QJsonValue &v : messages) {
        if (v.toObject().value(u"sender"_s).toString().startsWith("Bjorn Aas"_L1))
            exempted << v.toObject().value(u"folder"_s).toString() << v.toObject().value(u"rule"_s).toString();
    }
    QCOMPARE(exempted, (QStringList{u"Inbox"_s, u"Bjorn Aas <bjorn@northwind.example> (Exempted List)"_s}));

    // The lines: one per message with six fields, then the summary.
    const Result text = trelvik({u"--check"_s, u"--profile"_s, u"work"_s});
    QCOMPARE(text.code, 0);
    const QList<QByteArray> lines = text.out.trimmed().split('\n');
    QCOMPARE(lines.size(), windowFolder.size() + 1);
    QCOMPARE(lines.first().split('\t').size(), 6);
    QCOMPARE(QString::fromUtf8(lines.last()),
             u"Work: %1 messages, %2 in the Inbox, %3 in the Recycle Bin"_s.arg(windowFolder.size())
                 .arg(windowFolder.size() - recycled)
                 .arg(recycled));
    QCOMPARE(server.messageCount(), windowFolder.size());
    QCOMPARE(history().size(), 0);
}

void TestCommandLine::checkDeleteRemovesExactlyTheRecycleBin()
{
    SamplePop3Server server(sampleMail(), "demo", "demo");
    QVERIFY(server.listen());
    const int before = server.messageCount();
    writeProfile(u"Work"_s, server.port(), u"demo"_s, u"demo"_s);
    sampleRules();

    const QJsonObject first = trelvik({u"--check"_s, u"--json"_s}).json();
    QStringList kept, recycled;
    for (const QJsonValue &v : first.value(u"messages"_s).toArray())
        (v.toObject().value(u"folder"_s).toString() == "Inbox"_L1 ? kept : recycled)
            << v.toObject().value(u"uid"_s).toString();

    const Result run = trelvik({u"--check"_s, u"--delete"_s, u"--json"_s});
    QVERIFY2(run.code == 0, run.err.constData());
    QCOMPARE(run.json().value(u"deleted"_s).toInt(), recycled.size());
    QCOMPARE(run.json().value(u"notDeleted"_s).toInt(), 0);
    QCOMPARE(server.messageCount(), before - int(recycled.size()));

    // What is left is the Inbox, untouched; the history holds the rest.
    const QJsonObject after = trelvik({u"--check"_s, u"--json"_s}).json();
    QStringList left = field(after.value(u"messages"_s).toArray(), u"uid"_s);
    QCOMPARE(left, kept);
    const QJsonArray deleted = history();
    QStringList deletedUids = field(deleted, u"uid"_s);
    deletedUids.sort();
    recycled.sort();
    QCOMPARE(deletedUids, recycled);
    QCOMPARE(field(deleted, u"profile"_s), QStringList(recycled.size(), u"Work"_s));
    for (const QJsonValue &row : deleted) { // sizes in bytes, as the check gives them
        QVERIFY(row.toObject().value(u"size"_s).toInteger() > 0);
        QVERIFY(row.toObject().value(u"sizeShown"_s).toString().endsWith(u'K'));
    }
    for (const QString &rule : field(deleted, u"rule"_s))
        QVERIFY2(rule.endsWith(" (Filter List)"_L1), qPrintable(rule));
    QCOMPARE(history(u"Other"_s).size(), 0);
}

void TestCommandLine::historyHoldsOnlyWhatTheServerRemoved_data()
{
    QTest::addColumn<QByteArray>("dropAt"); // where the server drops the line; empty: nowhere
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("recorded");
    QTest::addColumn<QStringList>("state");
    QTest::newRow("one DELE refused: partly deleted")
        << QByteArray() << 5 << QStringList{u"uid-3"_s} << QStringList{u"deleted"_s};
    // Written before QUIT; whether the server carried it out is not known.
    QTest::newRow("QUIT never answered: unconfirmed")
        << QByteArray("QUIT") << 4 << QStringList{u"uid-3"_s} << QStringList{u"deleted, unconfirmed"_s};
    QTest::newRow("lost before QUIT: nothing deleted") << QByteArray("DELE 1") << 4 << QStringList{} << QStringList{};
}

void TestCommandLine::historyHoldsOnlyWhatTheServerRemoved()
{
    QFETCH(QByteArray, dropAt);
    QFETCH(int, code);
    QFETCH(QStringList, recorded);
    QFETCH(QStringList, state);
    testsupport::ScriptedPop3Server server;
    QVERIFY(server.listen());
    writeProfile(u"Home"_s, server.port(), u"user"_s, u"secret"_s);
    withRules([](RuleDatabase &r) { QVERIFY(r.InsertRule(u"tbfilter"_s, u"*@spam.example"_s)); });
    using S = testsupport::ScriptedPop3Server;
    // One session: the Recycle Bin (3 and 1) is deleted by the numbers the
    // fetch read, last row first, without reading any header again.
    server.greet().login().stat(3).uidl({"uid-1", "uid-2", "uid-3"}).listAll({1200, 1200, 1200});
    const QByteArray senders[] = {"a@spam.example", "b@friend.example", "c@spam.example"};
    for (int i = 1; i <= 3; ++i)
        server.top(i, S::headers({"From: " + senders[i - 1], "Subject: number " + QByteArray::number(i)}));
    server.dele(3);
    dropAt == "DELE 1" ? server.expectDrop("DELE 1") : server.dele(1, false);
    if (dropAt.isEmpty())
        server.quit();
    else if (dropAt == "QUIT")
        server.expectDrop("QUIT");

    const Result run = trelvik({u"--check"_s, u"--delete"_s});
    QCOMPARE(run.code, code);
    QString why;
    QVERIFY2(server.verify(&why), qPrintable(why));
    QCOMPARE(server.connections(), 1);
    QCOMPARE(server.commands().count("PASS secret"), 1);
    QVERIFY(!run.err.isEmpty()); // the refusal or the lost connection is told
    QCOMPARE(server.removed(), dropAt.isEmpty() ? QList<int>{3} : QList<int>{});
    QCOMPARE(field(history(), u"uid"_s), recorded);
    QCOMPARE(field(history(), u"state"_s), state);
}

void TestCommandLine::unconfirmedEntriesAreSettledByTheNextCheck()
{
    // Runs that ended before QUIT was answered left two entries: one whose
    // message is gone since, one whose message is still there (and still a
    // filter hit). The next check settles both; its own deletion of the
    // second is the one entry of it.
    SamplePop3Server server(sampleMail(), "demo", "demo");
    QVERIFY(server.listen());
    writeProfile(u"Work"_s, server.port(), u"demo"_s, u"demo"_s);
    sampleRules();
    QString stillThere;
    for (const QJsonValue &v : trelvik({u"--check"_s, u"--json"_s}).json().value(u"messages"_s).toArray())
        if (v.toObject().value(u"folder"_s).toString() != "Inbox"_L1)
            stillThere = v.toObject().value(u"uid"_s).toString();
    QVERIFY(!stillThere.isEmpty());
    withRules([&](RuleDatabase &r) {
        DeletionRecord gone, there;
        gone.time = there.time = QDateTime::currentDateTimeUtc().addDays(-1);
        gone.profile = there.profile = u"Work"_s;
        gone.uid = u"gone-since"_s;
        there.uid = stillThere;
        QString error;
        QVERIFY2(DeletionHistory(r).recordPending({gone, there}, &error), qPrintable(error));
    });

    const Result run = trelvik({u"--check"_s, u"--delete"_s, u"--quiet"_s});
    QVERIFY2(run.code == 0, run.err.constData());
    const QJsonArray entries = history();
    const QStringList uids = field(entries, u"uid"_s);
    QCOMPARE(uids.count(stillThere), 1);
    QCOMPARE(field(entries, u"state"_s).value(uids.indexOf(u"gone-since"_s)), u"deleted"_s);
    QVERIFY(!field(entries, u"state"_s).contains(u"deleted, unconfirmed"_s));
}

void TestCommandLine::listingsThatDisagreeAreAllScreened()
{
    // UIDL leaves out message 3, which STAT and LIST count: it is screened
    // all the same, without an id, and the report says how they disagree.
    testsupport::ScriptedPop3Server server;
    QVERIFY(server.listen());
    writeProfile(u"Home"_s, server.port(), u"user"_s, u"secret"_s);
    server.greet().login().stat(3).uidl({"uid-1", "uid-2"}).listAll({100, 200, 300});
    for (int i = 1; i <= 3; ++i)
        server.top(i, testsupport::ScriptedPop3Server::headers({"From: m" + QByteArray::number(i) + "@x.example"}));
    server.quit();
    const Result run = trelvik({u"--check"_s, u"--json"_s});
    QVERIFY2(run.code == 0, run.err.constData());
    QString why;
    QVERIFY2(server.verify(&why), qPrintable(why));
    const QJsonObject json = run.json();
    QCOMPARE(field(json.value(u"messages"_s).toArray(), u"uid"_s), (QStringList{u"uid-1"_s, u"uid-2"_s, QString()}));
    QCOMPARE(json.value(u"listingMismatch"_s).toString(), u"the server's listings disagree (STAT 3, LIST 3, UIDL 2)"_s);
}

void TestCommandLine::failuresHaveTheirExitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("password"); // stored for profile "Work"
    QTest::addColumn<bool>("windowRuns");
    QTest::addColumn<int>("code");
    const QStringList check{u"--check"_s};
    QTest::newRow("--delete without --check") << QStringList{u"--delete"_s} << u"secret"_s << false << 2;
    QTest::newRow("unknown option") << QStringList{u"--check"_s, u"--frobnicate"_s} << u"secret"_s << false << 2;
    QTest::newRow("unknown option alone") << QStringList{u"--chek"_s} << u"secret"_s << false << 2;
    QTest::newRow("unknown profile") << QStringList{u"--check"_s, u"--profile"_s, u"Nope"_s} << u"secret"_s << false
                                     << 3;
    QTest::newRow("no password stored") << check << QString() << false << 3;
    QTest::newRow("wrong password") << check << u"wrong"_s << false << 4;
    QTest::newRow("window running") << check << u"secret"_s << true << 6;
    QTest::newRow("--timeout 0") << QStringList{u"--check"_s, u"--timeout"_s, u"0"_s} << u"secret"_s << false << 2;
    QTest::newRow("--timeout not a number")
        << QStringList{u"--check"_s, u"--timeout=10s"_s} << u"secret"_s << false << 2;
    QTest::newRow("--timeout past a day")
        << QStringList{u"--check"_s, u"--timeout"_s, u"86401"_s} << u"secret"_s << false << 2;
    // Trimmed of spaces as the window trims a new name, and no more: this
    // is another profile than "Work".
    QTest::newRow("a name ending in a no-break space")
        << QStringList{u"--check"_s, u"--profile"_s, u" Work\u00a0"_s} << u"secret"_s << false << 3;
    QTest::newRow("a folder to learn given twice")
        << QStringList{u"--learn-spam"_s, u"a"_s, u"--learn-spam"_s, u"b"_s} << u"secret"_s << false << 2;
    QTest::newRow("history of an unknown profile")
        << QStringList{u"--history"_s, u"--profile"_s, u"Nope"_s} << u"secret"_s << false << 3;
    // With --json a failure is one JSON document too.
    QTest::newRow("unknown profile, JSON")
        << QStringList{u"--check"_s, u"--json"_s, u"--profile"_s, u"Nope"_s} << u"secret"_s << false << 3;
    QTest::newRow("unknown option, JSON")
        << QStringList{u"--check"_s, u"--json"_s, u"--frobnicate"_s} << u"secret"_s << false << 2;
    QTest::newRow("wrong password, JSON") << QStringList{u"--check"_s, u"--json"_s} << u"wrong"_s << false << 4;
    QTest::newRow("window running, JSON") << QStringList{u"--history"_s, u"--json"_s} << u"secret"_s << true << 6;
    QTest::newRow("the window without a display") << QStringList{} << u"secret"_s << false << 1;
    QTest::newRow("--trust-certificate not a fingerprint")
        << QStringList{u"--check"_s, u"--trust-certificate"_s, u"ab:cd"_s} << u"secret"_s << false << 2;
    QTest::newRow("--timeout without --check")
        << QStringList{u"--history"_s, u"--timeout"_s, u"5"_s} << u"secret"_s << false << 2;
}

void TestCommandLine::failuresHaveTheirExitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, password);
    QFETCH(bool, windowRuns);
    QFETCH(int, code);
    testsupport::ScriptedPop3Server server;
    QVERIFY(server.listen());
    writeProfile(u"Work"_s, server.port(), u"user"_s, password);
    if (code == 4)
        server.greet().expect("USER user", "+OK\r\n").expect("PASS wrong", "-ERR [AUTH] invalid password\r\n");
    SingleInstance window;
    if (windowRuns)
        QCOMPARE(window.tryAcquire(), DataFolderLock::Result::Acquired);

    const Result run = trelvik(arguments);
    QCOMPARE(run.code, code);
    QVERIFY(run.err.startsWith("trelvik: "));
    // The command line has options, not the window's buttons; without a
    // display it is what to use.
    QVERIFY2(!run.err.contains("button") && !run.err.contains("press "), run.err.constData());
    QVERIFY(!arguments.isEmpty() || run.err.contains("trelvik --check"));
    // The window's lines are sentences on the console, not run together.
    QVERIFY2(password != u"wrong"_s || run.err.contains("Invalid Email UserID or Password. Correct them "),
             run.err.constData());
    if (arguments.contains(u"--json"_s)) {
        QJsonParseError parsed;
        const QJsonObject error = QJsonDocument::fromJson(run.out, &parsed).object();
        QVERIFY2(parsed.error == QJsonParseError::NoError, run.out.constData());
        QCOMPARE(error.value(u"exitCode"_s).toInt(-1), code);
        const QString firstError = error.value(u"error"_s).toString().section(u'\n', 0, 0);
        QVERIFY(!firstError.isEmpty() && run.err.startsWith("trelvik: " + firstError.toUtf8()));
        QVERIFY(!error.value(u"kind"_s).toString().isEmpty());
    } else {
        QVERIFY(run.out.isEmpty());
    }
    QString why;
    QVERIFY2(server.verify(&why), qPrintable(why));
}

void TestCommandLine::helpNamesBothProtocols()
{
    const Result run = trelvik({u"--help"_s});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains("Screens a POP3 or IMAP mailbox"), run.out.constData());
}

void TestCommandLine::unknownSecurityIsRefused_data()
{
    QTest::addColumn<QString>("security"); // as stored in the settings file
    QTest::addColumn<int>("code");
    QTest::newRow("TLS") << u"TLS"_s << 3;
    QTest::newRow("SSL") << u"SSL"_s << 3;
    QTest::newRow("Bogus") << u"Bogus"_s << 3;
    QTest::newRow("STARTTLS-if-offered") << u"STARTTLS-if-offered"_s << 3;
    // Profiles stored before there was a choice: the port's default, as always.
    QTest::newRow("empty: plain on a port other than 995") << QString() << 0;
}

void TestCommandLine::unknownSecurityIsRefused()
{
    QFETCH(QString, security);
    QFETCH(int, code);
    testsupport::ScriptedPop3Server server;
    QVERIFY(server.listen());
    writeProfile(u"Work"_s, server.port(), u"user"_s, u"secret"_s, security);
    if (code == 0)
        server.greet().login().stat(0).quit();

    const Result run = trelvik({u"--check"_s, u"--quiet"_s});
    QCOMPARE(run.code, code);
    VERIFY_SCRIPT(server);
    if (code == 0)
        return;
    QCOMPARE(server.connections(), 0); // the password never left
    const QString err = QString::fromUtf8(run.err);
    QVERIFY2(err.contains("not configured"_L1) && err.contains(u'"' + security + u'"'), qPrintable(err));
    QVERIFY(run.out.isEmpty());
}

void TestCommandLine::timeoutEndsARunThatNeverFinishes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("deleOwed"); // the server never answers DELE 1
    QTest::newRow("--check") << QStringList{u"--check"_s, u"--timeout"_s, u"2"_s} << false;
    // The fetch never ended: the message already in the Recycle Bin stays.
    QTest::newRow("--check --delete") << QStringList{u"--check"_s, u"--delete"_s, u"--timeout"_s, u"2"_s} << false;
    // Its answer is awaited for the cancel grace (3 s), and the line says so.
    QTest::newRow("--check --delete, DELE unanswered")
        << QStringList{u"--check"_s, u"--delete"_s, u"--timeout"_s, u"2"_s} << true;
}

void TestCommandLine::timeoutEndsARunThatNeverFinishes()
{
    // A byte now and then: never silent for long enough to end the session.
    QFETCH(QStringList, arguments);
    QFETCH(bool, deleOwed);
    testsupport::ScriptedPop3Server server;
    QVERIFY(server.listen());
    writeProfile(u"Work"_s, server.port(), u"user"_s, u"secret"_s);
    withRules([](RuleDatabase &r) { QVERIFY(r.InsertRule(u"tbfilter"_s, u"*@spam.example"_s)); });
    server.greet().login().stat(2).uidl({"a", "b"}).listAll({100, 100});
    server.top(1, "From: s@spam.example\r\n");
    if (deleOwed) {
        server.top(2, "From: a@x.example\r\n").expectSilent("DELE 1");
    } else {
        server.expect("TOP 2 0", "+OK\r\nFrom: a@x.example\r\n").trickle("j", 100, 50'000);
        server.quit().optional();
    }

    QElapsedTimer clock;
    clock.start();
    const Result run = trelvik(arguments);
    const double tookSeconds = double(clock.elapsed()) / 1000.0;
    QCOMPARE(run.code, 4);
    QVERIFY2(tookSeconds < 15, QByteArray::number(tookSeconds).constData());
    QVERIFY2(run.err.contains("The check was stopped after 2 seconds (--timeout)"), run.err.constData());
    QVERIFY2(run.err.contains("the server did not finish in time"), run.err.constData());
    if (deleOwed) {
        // The seconds it names are true: past the limit by about the grace.
        static const QRegularExpression ended(u"ended after ([0-9.]+) seconds, once the server had answered"_s);
        const QRegularExpressionMatch match = ended.match(QString::fromUtf8(run.err));
        QVERIFY2(match.hasMatch(), run.err.constData());
        const double said = match.captured(1).toDouble();
        QVERIFY2(said >= 4.5 && said <= tookSeconds + 0.1, run.err.constData());
    }
    // The report comes once the mailbox was read: here, only with the DELE out.
    QCOMPARE(run.out.isEmpty(), !deleOwed);
    VERIFY_SCRIPT(server);
    QVERIFY(!server.commands().contains("QUIT") || !deleOwed);
    QCOMPARE(server.removed(), QList<int>());
    QCOMPARE(history().size(), 0);
}

void TestCommandLine::oauthSignInThatNeedsTheBrowser_data()
{
    QTest::addColumn<QString>("refreshToken"); // stored for the profile; empty: never signed in
    QTest::newRow("never signed in") << QString();
    QTest::newRow("sign-in withdrawn by the provider") << u"stale-refresh-token"_s;
}

void TestCommandLine::oauthSignInThatNeedsTheBrowser()
{
    QFETCH(QString, refreshToken);
    testsupport::ScriptedPop3Server server; // expects no connection at all
    QVERIFY(server.listen());
    testsupport::FakeAuthServer auth(u"user"_s);
    QVERIFY(auth.listen());
    writeProfile(u"Work"_s, server.port(), u"user"_s, QString());
    using namespace modRegistry;
    const QString key = kSettingKeyPrefix + u"Work"_s;
    WriteStoreValue(HKEY_CURRENT_USER, key, u"SignInMethod"_s, REG_SZ, u"OAuth2"_s);
    WriteStoreValue(HKEY_CURRENT_USER, key, u"OAuthClientId"_s, REG_SZ, auth.clientId());
    WriteStoreValue(HKEY_CURRENT_USER, key, u"OAuthAuthorizeUrl"_s, REG_SZ, auth.url(u"/authorize"_s).toString());
    WriteStoreValue(HKEY_CURRENT_USER, key, u"OAuthTokenUrl"_s, REG_SZ, auth.url(u"/token"_s).toString());
    if (!refreshToken.isEmpty())
        QCOMPARE(ScrambledSecretStore().write(u"Work"_s, SecretKind::OAuthRefreshToken, refreshToken).status,
                 SecretStore::Status::Ok);

    const Result run = trelvik({u"--check"_s, u"--delete"_s});
    QCOMPARE(run.code, 4);
    QVERIFY2(run.err.contains("browser") && !run.err.contains("press "), run.err.constData());
    QVERIFY(run.out.isEmpty());
    QCOMPARE(auth.refusedRefreshes(), refreshToken.isEmpty() ? 0 : 1);
    QCOMPARE(auth.codeGrants(), 0);
    QString why;
    QVERIFY2(server.verify(&why), qPrintable(why));
}

void TestCommandLine::ruleFiles()
{
    QTemporaryDir dir;
    QFile in(dir.filePath(u"in.txt"_s));
    QVERIFY(in.open(QIODevice::WriteOnly));
    in.write("# mine\nfilter *@spam.example\n\nexempt boss@work.example\nFILTER *@SPAM.example\n"
             "drop everything\nfilter \xc3\xa5se@fjord.example\n");
    in.close();

    Result run = trelvik({u"--import-rules"_s, in.fileName()});
    QCOMPARE(run.code, 1); // imported, but not whole
    QCOMPARE(run.out.trimmed(),
             QByteArray("3 rules added, 1 already present, 1 refused (line 6: \"drop everything\": "
                        "the line starts with neither \"filter\" nor \"exempt\")"));
    QVERIFY2(run.err.contains("Line 6"), run.err.constData());
    QCOMPARE(trelvik({u"--import-rules"_s, in.fileName()}).out.trimmed(),
             QByteArray("0 rules added, 4 already present, 1 refused (line 6: \"drop everything\": "
                        "the line starts with neither \"filter\" nor \"exempt\")"));

    const QString outName = dir.filePath(u"out.txt"_s);
    QCOMPARE(trelvik({u"--export-rules"_s, outName, u"--quiet"_s}).code, 0);
    QFile out(outName);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = out.readAll().split('\n');
    lines.removeIf([](const QByteArray &l) { return l.isEmpty() || l.startsWith('#'); });
    std::sort(lines.begin(), lines.end());
    QCOMPARE(lines,
             (QList<QByteArray>{"exempt boss@work.example", "filter *@spam.example",
                                "filter \xc3\xa5se@fjord.example"}));

    // Failures: nothing read, nothing written, and what a usage error is.
    run = trelvik({u"--import-rules"_s, dir.filePath(u"missing.txt"_s)});
    QCOMPARE(run.code, 1);
    QVERIFY(run.err.contains("missing.txt"));
    QCOMPARE(trelvik({u"--export-rules"_s, dir.filePath(u"no/such/folder/out.txt"_s)}).code, 1);
    QCOMPARE(trelvik({u"--import-rules"_s, in.fileName(), u"--check"_s}).code, 2);
    QCOMPARE(trelvik({u"--export-rules"_s}).code, 2);
    QCOMPARE(trelvik({u"--export-rules"_s, outName, u"--json"_s}).code, 2);
}

void TestCommandLine::dovecotCertificateAndPassword()
{
    QString why;
    if (!testsupport::DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    testsupport::DovecotServer dovecot;
    QVERIFY2(dovecot.start(&why), qPrintable(why));
    QVERIFY(dovecot.addMessage("From: offers@spam.example\r\nSubject: buy\r\n\r\nbody\r\n"));
    QVERIFY(dovecot.addMessage("From: friend@home.example\r\nSubject: hello\r\n\r\nbody\r\n"));
    withRules([](RuleDatabase &r) { QVERIFY(r.InsertRule(u"tbfilter"_s, u"*@spam.example"_s)); });
    const QString fingerprint =
        QString::fromLatin1(QSslCertificate(dovecot.certificatePem()).digest(QCryptographicHash::Sha256).toHex());
    const QStringList checkDelete{u"--check"_s, u"--delete"_s};

    // Self-signed and not trusted yet: refused without a question, and
    // without a word of Qt's own on standard error (cron mails it).
    writeProfile(u"Mail"_s, dovecot.tlsPort(), dovecot.user(), dovecot.password(), u"SSL/TLS"_s);
    Result run = trelvik(checkDelete);
    QCOMPARE(run.code, 4);
    QVERIFY2(run.err.contains("--trust-certificate " + fingerprint.toLatin1()), run.err.constData());
    QVERIFY2(!run.err.contains("QSslSocket"), run.err.constData());

    // A headless machine trusts it by its fingerprint, and only by its own.
    const QStringList check{u"--check"_s, u"--trust-certificate"_s};
    QCOMPARE(trelvik(check + QStringList{QString(64, u'0')}).code, 4);
    QCOMPARE(trelvik({u"--check"_s}).code, 4); // a wrong fingerprint kept nothing
    // A trust the settings file cannot take is said on standard error, as a
    // sign-in that could not be kept is; the check itself goes on.
    ProgramStart full;
    full.env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/bus"_s);
    full.fileSizeLimit = rlim_t(QFileInfo(modRegistry::StoreFilePath()).size());
    run = runProgram(check + QStringList{fingerprint}, full);
    QVERIFY2(run.code == 0 && run.err.contains("could not be remembered for the profile \"Mail\""),
             run.err.constData());
    QCOMPARE(trelvik({u"--check"_s}).code, 4);
    QString colons = fingerprint.toUpper();
    for (qsizetype i = colons.size() - 2; i > 0; i -= 2)
        colons.insert(i, u':');
    run = trelvik(check + QStringList{colons});
    QVERIFY2(run.code == 0, run.err.constData());
    run = trelvik({u"--check"_s}); // kept for the profile
    QVERIFY2(run.code == 0, run.err.constData());

    writeProfile(u"Mail"_s, dovecot.tlsPort(), dovecot.user(), u"not the password"_s, u"SSL/TLS"_s, fingerprint);
    QCOMPARE(trelvik(checkDelete).code, 4);
    QCOMPARE(dovecot.messageCount(), 2);

    writeProfile(u"Mail"_s, dovecot.tlsPort(), dovecot.user(), dovecot.password(), u"SSL/TLS"_s, fingerprint);
    run = trelvik(checkDelete);
    QVERIFY2(run.code == 0 && run.err.isEmpty(), run.err.constData());
    QCOMPARE(dovecot.messageCount(), 1);
    QCOMPARE(field(history(), u"sender"_s), QStringList{u"offers@spam.example"_s});
}

void TestCommandLine::notificationAfterADeletion()
{
    QTemporaryDir dir;
    QFile config(dir.filePath(u"bus.conf"_s));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(
        R"(<busconfig><type>session</type><listen>unix:path=)" + dir.filePath(u"socket"_s).toUtf8()
        + R"(</listen><auth>EXTERNAL</auth><policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>)");
    config.close();
    QProcess daemon;
    daemon.start(u"dbus-daemon"_s,
                 {u"--config-file="_s + config.fileName(), u"--nofork"_s, u"--nopidfile"_s, u"--print-address"_s});
    QVERIFY2(daemon.waitForStarted(10'000), qPrintable(daemon.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(daemon.canReadLine(), 10'000);
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    auto stopDaemon = qScopeGuard([&daemon] {
        QDBusConnection::disconnectFromBus(u"notifications"_s);
        daemon.terminate();
        daemon.waitForFinished(5'000);
    });

    SamplePop3Server server(sampleMail(), "demo", "demo");
    QVERIFY(server.listen());
    writeProfile(u"Work"_s, server.port(), u"demo"_s, u"demo"_s);
    sampleRules();

    // With no service on the bus the run is not held up and shows nothing.
    FakeNotifications fake;
    QDBusConnection bus = QDBusConnection::connectToBus(address, u"notifications"_s);
    QVERIFY(bus.isConnected());
    QCOMPARE(trelvik({u"--check"_s}, address).code, 0);

    QVERIFY(bus.registerVirtualObject(u"/org/freedesktop/Notifications"_s, &fake)
            && bus.registerService(u"org.freedesktop.Notifications"_s));
    QCOMPARE(trelvik({u"--check"_s}, address).code, 0); // nothing deleted: no notification
    const Result run = trelvik({u"--check"_s, u"--delete"_s, u"--json"_s}, address);
    QCOMPARE(run.code, 0);
    const int deleted = run.json().value(u"deleted"_s).toInt();
    QVERIFY(deleted > 1);
    QCOMPARE(fake.summaries, QStringList{u"Trelvik deleted %1 messages from Work"_s.arg(deleted)});
    QCOMPARE(fake.bodies, QStringList{u"%1 messages are waiting."_s.arg(server.messageCount())});
    QCOMPARE(trelvik({u"--check"_s, u"--delete"_s}, address).code, 0); // nothing left to delete
    QCOMPARE(fake.summaries.size(), 1);
}

void TestCommandLine::allProfilesInOneRun()
{
    // Two mailboxes that answer and, between them by name, one whose login
    // is refused: the others are still checked and deleted, and the run's
    // code is the failure's.
    SamplePop3Server home(sampleMail(), "demo", "demo");
    SamplePop3Server work(sampleMail(), "demo", "demo");
    testsupport::ScriptedPop3Server refused;
    QVERIFY(home.listen() && work.listen() && refused.listen());
    refused.greet().expect("USER user", "+OK\r\n").expect("PASS wrong", "-ERR [AUTH] invalid password\r\n");
    writeProfile(u"Home"_s, home.port(), u"demo"_s, u"demo"_s);
    writeProfile(u"Refused"_s, refused.port(), u"user"_s, u"wrong"_s);
    writeProfile(u"Work"_s, work.port(), u"demo"_s, u"demo"_s);
    sampleRules();
    const int before = home.messageCount();

    const Result run = trelvik({u"--check"_s, u"--delete"_s, u"--all"_s, u"--json"_s});
    QCOMPARE(run.code, 4);
    QCOMPARE(run.json().value(u"exitCode"_s).toInt(), 4);
    QMap<QString, QJsonObject> byProfile;
    for (const QJsonValue &v : run.json().value(u"profiles"_s).toArray())
        byProfile.insert(v.toObject().value(u"profile"_s).toString(), v.toObject());
    QCOMPARE(byProfile.keys(), (QStringList{u"Home"_s, u"Refused"_s, u"Work"_s}));
    QCOMPARE(byProfile[u"Refused"_s].value(u"kind"_s).toString(), u"connection failed"_s);
    QVERIFY(byProfile[u"Refused"_s].value(u"error"_s).toString().contains(u"Invalid"_s));
    for (const QString &name : {u"Home"_s, u"Work"_s})
        QVERIFY2(byProfile[name].value(u"deleted"_s).toInt() > 0, qPrintable(name));
    QCOMPARE(home.messageCount(), before - byProfile[u"Home"_s].value(u"deleted"_s).toInt());
    QCOMPARE(work.messageCount(), home.messageCount());
    QString why;
    QVERIFY2(refused.verify(&why), qPrintable(why));

    // The text report has a part for each profile, the failed one included.
    const Result text = trelvik({u"--check"_s, u"--all"_s, u"--quiet"_s});
    QCOMPARE(text.code, 4); // the scripted server takes no second login
    const QStringList lines = QString::fromUtf8(text.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).startsWith(u"Home: "_s) && lines.at(2).startsWith(u"Work: "_s));
    QVERIFY2(lines.at(1).startsWith(u"Refused: not checked"_s), qPrintable(lines.at(1)));
    QCOMPARE(trelvik({u"--check"_s, u"--all"_s, u"--profile"_s, u"Home"_s}).code, 2);
}

void TestCommandLine::watchMovesArrivalsUntilSigterm()
{
    SampleImapServer server({}, "ann", "secret");
    QVERIFY(server.listen());
    withRules([](RuleDatabase &r) {
        QVERIFY(r.InsertRule(u"tbfilter"_s, u"*@spam.example"_s));
        // Enough lessons for the learning to judge what no rule names.
        QList<Learner::Lesson> lessons;
        for (int i = 0; i < 6; ++i) {
            const QByteArray n = QByteArray::number(i);
            lessons.append(
                {"From: Prize Desk <claim" + n + "@lucky.example>\r\nSubject: You won a prize " + n + "\r\n\r\n",
                 true});
            lessons.append({"From: Friend <friend@home.example>\r\nSubject: hello " + n + "\r\nIn-Reply-To: <" + n
                                + "@home.example>\r\n\r\n",
                            false});
        }
        Learner learner(r, u"Mail"_s);
        QVERIFY(learner.load(nullptr) && learner.teach(lessons, nullptr));
    });
    writeProfile(u"Mail"_s, server.port(), u"ann"_s, u"secret"_s);
    Result run = trelvik({u"--watch"_s});
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains("POP3"), run.err.constData());

    modRegistry::WriteStoreValue(modRegistry::HKEY_CURRENT_USER, kSettingKeyPrefix + u"Mail"_s, u"MailProtocol"_s,
                                 modRegistry::REG_SZ, u"IMAP"_s);
    connect(&server, &SampleImapServer::idling, this, [&server] {
        if (server.messageCount(u"Junk"_s) == 0 && server.messageCount() == 0) {
            server.deliver("From: offers@spam.example\r\nSubject: buy\r\n\r\nbody\r\n");
            server.deliver("From: friend@home.example\r\nSubject: hello\r\n\r\nbody\r\n");
            server.deliver("From: Prize Desk <claim9@lucky.example>\r\nSubject: You won a prize 9\r\n\r\nbody\r\n");
        }
    });
    QProcess watch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/bus"_s);
    watch.setProcessEnvironment(env);
    QSignalSpy finished(&watch, &QProcess::finished);
    watch.start(QStringLiteral(TRELVIK_BINARY), {u"--watch"_s, u"--profile"_s, u"mail"_s});
    QByteArray out;
    // A rule's hit and the learning's spam alike.
    QTRY_VERIFY_WITH_TIMEOUT((out += watch.readAllStandardOutput()).contains("Moved to Junk: offers@spam.example")
                                 && out.contains("| You won a prize 9 | Learned: "),
                             30'000);
    // The data folder is the watch's while it runs.
    QCOMPARE(trelvik({u"--check"_s}).code, 6);
    watch.terminate(); // as systemd stops it: it logs out and ends well
    QVERIFY(finished.wait(20'000));
    QVERIFY2(watch.exitStatus() == QProcess::NormalExit && watch.exitCode() == 0, watch.readAllStandardError());
    QCOMPARE(server.commands().constLast(), QByteArray("LOGOUT"));
    QCOMPARE(server.subjects(u"Junk"_s), (QList<QByteArray>{"buy", "You won a prize 9"}));
    QCOMPARE(server.subjects(u"INBOX"_s), QList<QByteArray>{"hello"});
    QCOMPARE(field(history(), u"sender"_s).size(), 2); // and the learned one
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
