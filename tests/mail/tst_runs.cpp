#include "Dialer.h"
#include "DovecotServer.h"
#include "HeaderDigest.h"
#include "Learner.h"
#include "Lessons.h"
#include "MailTestFixture.h"
#include "RuleDatabase.h"
#include "RunHost.h"
#include "Runs.h"
#include "SampleImapServer.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

using Icon = MessageBox::Icon;

namespace {

class FakeHost : public RunHost {
public:
    explicit FakeHost(MailFixture &f)
        : m(f)
    {
    }
    void setStatusText(const QString &text) override { m.status.setStatusText(text); }
    void setProgressMaximum(int maximum) override { m.status.setProgressMaximum(maximum); }
    void setProgressValue(int value) override { m.status.setProgressValue(value); }
    void setNodeText(const QString &key, const QString &text) override { m.status.setNodeText(key, text); }
    MessageFolderModel &inboxModel() override { return m.inbox; }
    MessageFolderModel &recycleModel() override { return m.recycle; }
    void selectFolderNode(const QString &key) override { m.status.events << QStringLiteral("select:") + key; }
    void ShowInbox() override { m.status.events << QStringLiteral("ShowInbox:%1").arg(m.inbox.count()); }
    void ShowRecycleBin() override { m.status.events << QStringLiteral("ShowRecycleBin"); }
    void repaintNow() override { m.status.events << QStringLiteral("repaint"); }
    QWidget *dialogParent() override { return nullptr; }
    MailFixture &m;
};

class FakeDialer : public Dialer {
public:
    void DialUp(const ProfileSettingsRecord &, CancelFlag &cancel) override
    {
        calls << QStringLiteral("DialUp");
        if (cancelWhileDialling)
            cancel.set(); // the user pressed Cancel; the real dialer then hangs up
        RasResult = dialResult;
    }
    void HangUp() override
    {
        calls << QStringLiteral("HangUp");
        RasResult = 0;
    }
    qint32 dialResult = 0;
    bool cancelWhileDialling = false;
    QStringList calls;
};

// A row as the fetch made it from the header "From: <sender>".
MessageEntry entry(const QString &sender, qint32 number, const QString &uid = {})
{
    MessageEntry e;
    e.sender = sender;
    e.number = number;
    e.uid = uid;
    const QByteArray block = "From: " + sender.toLatin1() + "\r\n\r\n";
    e.setHeaderBlock(block);
    e.digest = HeaderDigest::of(block);
    return e;
}

} // namespace

class TestRuns : public QObject {
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
        f = std::make_unique<MailFixture>();
        host = std::make_unique<FakeHost>(*f);
        dialer = FakeDialer();
    }
    void cleanup()
    {
        host.reset();
        f.reset();
    }

    void fetchNeedsConfiguredProfile_data();
    void fetchNeedsConfiguredProfile();
    void unknownSecurityRefusedBeforeDialling_data();
    void unknownSecurityRefusedBeforeDialling();
    void emptyRecycleBinDoesNothing();
    void fetchRun();
    void failingDialUp_data();
    void failingDialUp();
    void deleteRun();
    void emptyLearnsBeforeItReports();
    void closeBoxActsAsCancel();
    void certificateHooks();
    void unreadablePasswordAsked_data();
    void unreadablePasswordAsked();
    void learnFromServerRun_data();
    void learnFromServerRun();
    void emptyTeachesWhatTheUserDecided();

private:
    Runs::RunProfile runProfile()
    {
        return {f->settings, profileName, Global::CancelRequested(), f->settings.learningName(profileName)};
    }

    testsupport::TempHome home;
    RuleDatabase rules{home.appDataFolder()};
    std::unique_ptr<MailFixture> f;
    QString profileName;
    std::unique_ptr<FakeHost> host;
    FakeDialer dialer;
};

void TestRuns::fetchNeedsConfiguredProfile_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("server");
    QTest::newRow("POP3") << QStringLiteral("POP3") << QStringLiteral("POP server");
    QTest::newRow("IMAP") << QStringLiteral("IMAP") << QStringLiteral("IMAP server");
}

void TestRuns::fetchNeedsConfiguredProfile()
{
    QFETCH(QString, protocol);
    QFETCH(QString, server);
    f->settings.MailProtocol = protocol;
    f->settings.EmailPassword.clear();
    f->boxes.expect(QStringLiteral("Email Setting not configured\r\nPress the Setting button beside the profile box "
                                   "and fill in the %1, user ID and password.")
                        .arg(server),
                    QStringLiteral("Error"), Icon::Critical);
    Runs::cmdFetch_Click(*host, rules, dialer, runProfile());
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->status.events.isEmpty()); // no dialog, nothing prepared
    QCOMPARE(f->server.connections(), 0);
}

void TestRuns::unknownSecurityRefusedBeforeDialling_data()
{
    QTest::addColumn<bool>("deletion");
    QTest::newRow("Fetch Inbox") << false;
    QTest::newRow("Empty Recycle Bin") << true;
}

void TestRuns::unknownSecurityRefusedBeforeDialling()
{
    // Any guess at what "SSL" meant could send the password in clear.
    QFETCH(bool, deletion);
    f->settings.EmailSecurity = QStringLiteral("SSL");
    f->settings.Autodial = QStringLiteral("1");
    f->recycle.append(entry(QStringLiteral("b@x.example"), 2, QStringLiteral("u2")));
    f->boxes.expect(QStringLiteral("Email Setting not configured\r\nThe connection security \"SSL\" is not known, so "
                                   "nothing was sent.\r\nChoose None, STARTTLS or SSL/TLS in the settings."),
                    QStringLiteral("Error"), Icon::Critical);
    if (deletion)
        Runs::cmdConfirm_Click(*host, rules, dialer, runProfile());
    else
        Runs::cmdFetch_Click(*host, rules, dialer, runProfile());
    VERIFY_BOXES(f->boxes);
    QVERIFY(dialer.calls.isEmpty());
    QCOMPARE(f->server.connections(), 0);
    QCOMPARE(f->recycle.count(), 1);
}

void TestRuns::emptyRecycleBinDoesNothing()
{
    f->settings.EmailHost.clear(); // not even the profile box
    // Nor is the Inbox learned as reviewed good mail: nothing was emptied.
    f->inbox.append(entry(QStringLiteral("unread@x.example"), 1));
    profileName = QStringLiteral("Nothing emptied");
    Runs::cmdConfirm_Click(*host, rules, dialer, runProfile());
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->status.events.isEmpty());
    QVERIFY(dialer.calls.isEmpty());
    QCOMPARE(f->server.connections(), 0);
    Learner learner(rules, profileName);
    QVERIFY(learner.load(nullptr));
    QCOMPARE(learner.model().hamMessages(), 0u);
}

void TestRuns::fetchRun()
{
    // A previous fetch's rows are gone first; new rows come sorted.
    f->inbox.append(entry(QStringLiteral("old@x.example"), 7));
    f->recycle.append(entry(QStringLiteral("older@x.example"), 8));
    f->inbox.setSortingEnabled(true);
    f->server.greet()
        .login()
        .stat(2)
        .uidl({"a", "b"})
        .listAll({100, 100})
        .top(1, "From: zed@x.example\r\n")
        .top(2, "From: amy@x.example\r\n")
        .quit();
    f->settings.Autodial = QStringLiteral("0");
    Runs::cmdFetch_Click(*host, rules, dialer, runProfile());
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QVERIFY(dialer.calls.isEmpty());
    QCOMPARE(f->status.events.mid(0, 1), QStringList{"select:Inbox"});
    QCOMPARE(rowTexts(f->inbox, MessageFolderModel::Sender), (QStringList{"amy@x.example", "zed@x.example"}));
    QCOMPARE(f->recycle.count(), 0);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestRuns::failingDialUp_data()
{
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("failed") << false;
    // The user's own Cancel is no failure to report.
    QTest::newRow("cancelled while dialling") << true;
}

void TestRuns::failingDialUp()
{
    QFETCH(bool, cancelled);
    f->settings.Autodial = QStringLiteral("1");
    dialer.dialResult = cancelled ? DialResultCode::UserDisconnection : 691;
    dialer.cancelWhileDialling = cancelled;
    if (!cancelled)
        f->boxes.expect(QStringLiteral("691: Authentication Failure"), QStringLiteral("Dialup Error"), Icon::Critical);
    Runs::cmdFetch_Click(*host, rules, dialer, runProfile());
    VERIFY_BOXES(f->boxes);
    QCOMPARE(dialer.calls, (QStringList{"DialUp", "HangUp"}));
    QCOMPARE(f->server.connections(), 0);
}

void TestRuns::deleteRun()
{
    f->recycle.append(entry(QStringLiteral("b@x.example"), 2, QStringLiteral("u2")));
    f->recycle.append(entry(QStringLiteral("a@x.example"), 1, QStringLiteral("u1")));
    f->inbox.append(entry(QStringLiteral("keep@x.example"), 3, QStringLiteral("u3")));
    f->server.greet()
        .login()
        .uidl({"u1", "u2", "u3"})
        .top(1, "From: a@x.example\r\n")
        .top(2, "From: b@x.example\r\n")
        .dele(1)
        .dele(2)
        .quit();
    Runs::cmdConfirm_Click(*host, rules, dialer, runProfile());
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->status.events.mid(0, 1), QStringList{"select:Recycle Bin"});
    QCOMPARE(f->recycle.count(), 0);
    QCOMPARE(f->inbox.count(), 1);
}

// The messages the server deleted are learned before the run's report is
// shown: a program ended while it is open loses no lesson, for the
// messages are gone.
void TestRuns::emptyLearnsBeforeItReports()
{
    f->recycle.append(entry(QStringLiteral("b@x.example"), 2, QStringLiteral("u2")));
    f->recycle.append(entry(QStringLiteral("a@x.example"), 1, QStringLiteral("u1")));
    f->server.greet()
        .login()
        .uidl({"u1", "u2"})
        .top(1, "From: a@x.example\r\n")
        .top(2, "From: someone.else@x.example\r\n")
        .dele(1)
        .quit();
    profileName = QStringLiteral("Learns first");
    QStringList seen; // each box, with the spam learned when it showed
    const MessageBox::Handler previous = MessageBox::setHandler([&](const MessageBox::Request &box) {
        Learner learner(rules, profileName);
        seen << box.text.section(QLatin1Char('\n'), 0, 0) + QStringLiteral(" | learned ")
                + QString::number(learner.load(nullptr) ? learner.model().spamMessages() : 99);
        return MessageBox::Result::Ok;
    });
    Runs::cmdConfirm_Click(*host, rules, dialer, runProfile());
    MessageBox::setHandler(previous);
    VERIFY_SCRIPT(f->server);
    QCOMPARE(seen,
             QStringList{QStringLiteral("1 of 2 messages could not be deleted on the server (refused, or changed "
                                        "since the fetch); it stays in the Recycle Bin. | learned 1")});
}

void TestRuns::closeBoxActsAsCancel()
{
    // Closing the wait dialog asks for Cancel instead of closing it.
    QString seen;
    bool stillOpen = false;
    auto closeDialog = [&] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            seen = dialog->objectName();
            dialog->close();
            stillOpen = dialog->isVisible();
        }
    };
    f->server.greet()
        .login()
        .stat(3)
        .uidl({"a", "b", "c"})
        .listAll({100, 100, 100})
        .top(1, "From: a@x.example\r\n")
        .top(2, "From: b@x.example\r\n")
        .delayed(300)
        .then(closeDialog);
    Runs::cmdFetch_Click(*host, rules, dialer, runProfile());
    VERIFY_SCRIPT(f->server);
    // Cancelled with nothing to carry out: the session closes without QUIT.
    QVERIFY(!f->server.commands().contains("QUIT"));
    VERIFY_BOXES(f->boxes);
    QCOMPARE(seen, QStringLiteral("frmFetchInbox"));
    QVERIFY(stillOpen);
    QCOMPARE(f->inbox.count(), 1);
}

// The runs ask their prompt about an untrusted certificate and hand a trusted
// one to their keeper with the profile's name; the delete run no longer asks.
void TestRuns::certificateHooks()
{
    QString why;
    if (!testsupport::DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    testsupport::DovecotServer server;
    QVERIFY(server.addMessage("From: Offers <deals@spam.example>\r\nSubject: two\r\n\r\nbody\r\n"));
    QVERIFY2(server.start(&why), qPrintable(why));
    f->settings.EmailPort = QString::number(server.tlsPort());
    f->settings.EmailSecurity = QStringLiteral("SSL/TLS");
    f->settings.EmailUserid = server.user();
    f->settings.EmailPassword = server.password();
    f->settings.Autodial = QStringLiteral("0");
    profileName = QStringLiteral("Work");

    int asked = 0;
    QStringList kept;
    Runs::CertificateHooks hooks;
    hooks.prompt = [&](const QString &, const QList<QSslCertificate> &, const QList<QSslError> &) {
        ++asked;
        return CertificateDecision::TrustAlways;
    };
    hooks.keep = [&](const QString &profile, const QString &fingerprint) {
        kept << profile + QLatin1Char('=') + fingerprint;
    };
    const QString fingerprint =
        QString::fromLatin1(QSslCertificate(server.certificatePem()).digest(QCryptographicHash::Sha256).toHex());

    QVERIFY(rules.InsertRule(QStringLiteral("tbfilter"), QStringLiteral("*@spam.example")));
    Runs::cmdFetch_Click(*host, rules, dialer, runProfile(), hooks);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(asked, 1);
    QCOMPARE(kept, QStringList{QStringLiteral("Work=") + fingerprint});
    QCOMPARE(f->settings.TrustedCertificate, fingerprint);
    QCOMPARE(f->recycle.count(), 1);

    Runs::cmdConfirm_Click(*host, rules, dialer, runProfile(), hooks);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(asked, 1);
    QCOMPARE(f->recycle.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), 0, 5000);
    QVERIFY(rules.DeleteRule(QStringLiteral("tbfilter"), QStringLiteral("*@spam.example")));
    profileName.clear();
}


void TestRuns::unreadablePasswordAsked_data()
{
    // The keyring did not give the password: it is asked for, and never
    // sent empty. -1: nobody to ask.
    QTest::addColumn<int>("answer"); // 1 typed, 0 declined, -1 no asking
    QTest::newRow("typed: used for the login") << 1;
    QTest::newRow("declined: nothing sent") << 0;
    QTest::newRow("nobody to ask: the reason shown") << -1;
}

void TestRuns::unreadablePasswordAsked()
{
    QFETCH(int, answer);
    const QString problem =
        QStringLiteral("The email password of profile Home could not be read from the desktop keyring.");
    f->settings.EmailPassword.clear();
    f->settings.SecretProblem = problem;
    Runs::CertificateHooks hooks;
    QStringList asked;
    if (answer >= 0)
        hooks.askPassword = [&](const QString &why) {
            asked << why;
            return answer ? QStringLiteral("secret") : QString();
        };
    if (answer == 1)
        f->server.greet().login().stat(0).quit();
    if (answer < 0)
        f->boxes.expect(problem + QStringLiteral("\r\nEnter the password in the settings."), QStringLiteral("Error"),
                        Icon::Critical);
    Runs::cmdFetch_Click(*host, rules, dialer, runProfile(), hooks);
    VERIFY_SCRIPT(f->server);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(asked, answer >= 0 ? QStringList{problem} : QStringList{});
    QCOMPARE(f->server.connections(), answer == 1 ? 1 : 0);
}

void TestRuns::learnFromServerRun_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("said");
    QTest::newRow("IMAP") << QStringLiteral("IMAP")
                          << QStringLiteral("Learned 5 spam and 6 good messages from the server's folders.");
    QTest::newRow("POP3 has no folders") << QStringLiteral("POP3") << QString();
}

// The window's run: the lessons taken under the progress dialog, the lists
// left as they were, the counts said; a POP3 profile is told why not.
void TestRuns::learnFromServerRun()
{
    QFETCH(QString, protocol);
    QFETCH(QString, said);
    QList<QByteArray> good;
    for (int i = 0; i < 6; ++i)
        good << "From: ann@work.example\r\nSubject: minutes " + QByteArray::number(i) + "\r\n\r\nx\r\n";
    SampleImapServer server(good, "ann", "secret");
    QVERIFY(server.listen());
    for (int i = 0; i < 5; ++i)
        server.deliver("From: win@prize.example\r\nSubject: prize " + QByteArray::number(i) + "\r\n\r\nx\r\n",
                       QStringLiteral("Junk"));
    f->settings.MailProtocol = protocol;
    if (protocol == QLatin1String("IMAP")) {
        f->settings.EmailPort = QString::number(server.port());
        f->settings.EmailUserid = QStringLiteral("ann");
    } else {
        f->boxes.expect(QStringLiteral("Only an IMAP profile can learn from the server's folders: a POP3 server keeps "
                                       "no Junk folder."),
                        QStringLiteral("Error"), Icon::Critical);
    }
    f->inbox.append(entry(QStringLiteral("kept@x.example"), 1));
    profileName = QStringLiteral("Learns ") + protocol;
    QCOMPARE(Runs::mnuLearnFromServer_Click(*host, rules, dialer, runProfile()), said);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->inbox.count(), 1);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    Learner learner(rules, profileName);
    QVERIFY(learner.load(nullptr));
    QCOMPARE(learner.model().spamMessages(), said.isEmpty() ? 0u : 5u);
    QCOMPARE(server.anySeen(QStringLiteral("Junk")), false);
}

// The emptied rows are spam and the reviewed Inbox good mail, except rows a
// learned verdict placed that the user left there; an unsure row was placed
// by no verdict, and the user's review of it teaches.
void TestRuns::emptyTeachesWhatTheUserDecided()
{
    const auto placed = [](MessageEntry e, SortReason::Verdict verdict) {
        e.sortReason = SortReason::learned(verdict, 50, {});
        return e;
    };
    const QList<MessageEntry> deleted = {entry(QStringLiteral("a@spam.example"), 1),
                                         placed(entry(QStringLiteral("b@spam.example"), 2), SortReason::Verdict::Spam)};
    f->inbox.append(entry(QStringLiteral("c@good.example"), 3));
    f->inbox.append(placed(entry(QStringLiteral("d@good.example"), 4), SortReason::Verdict::Good));
    f->inbox.append(placed(entry(QStringLiteral("e@good.example"), 5), SortReason::Verdict::Unsure));
    QCOMPARE(Lessons::fromEmpty(rules, QStringLiteral("Empties"), deleted, &f->inbox), QString());
    Learner learner(rules, QStringLiteral("Empties"));
    QVERIFY(learner.load(nullptr));
    QCOMPARE(learner.model().spamMessages(), 1u);
    QCOMPARE(learner.model().hamMessages(), 2u);
}

QTEST_MAIN(TestRuns)
#include "tst_runs.moc"
