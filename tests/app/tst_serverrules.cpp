// The "Rules on the Server" dialog against a ManageSieve server that answers
// in pieces and late, and against a private Dovecot; and the status line's
// note that the server's copy is out of date after a rule change.
#include "CurrentProfile.h"
#include "DovecotServer.h"
#include "ProfileRecord.h"
#include "RuleDatabase.h"
#include "RuleLists.h"
#include "ScriptedSieveServer.h"
#include "ServerRulesNote.h"
#include "SieveInclude.h"
#include "TestSupport.h"
#include "frmServerRules.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kGreeting = "\"IMPLEMENTATION\" \"Example Sieve\"\r\n\"SIEVE\" \"fileinto envelope\"\r\n"
                             "\"SASL\" \"\"\r\n\"STARTTLS\"\r\n\"VERSION\" \"1.0\"\r\nOK \"ready\"\r\n";
const QByteArray kSecured = "\"IMPLEMENTATION\" \"Example Sieve\"\r\n\"SIEVE\" \"fileinto envelope include\"\r\n"
                            "\"SASL\" \"PLAIN\"\r\n\"VERSION\" \"1.0\"\r\nOK \"TLS up\"\r\n";
const QStringList kExtensions{u"fileinto"_s, u"envelope"_s, u"include"_s};
const QByteArray kUserScript = "require [\"fileinto\"];\r\nif header :contains \"subject\" \"invoice\" {\r\n"
                               "  fileinto \"Bills\";\r\n}\r\n";

// Answers the boxes in order by a part of their text; any other box is
// answered No (or Ok) and fails the test.
class Boxes {
public:
    Boxes()
        : m_previous(MessageBox::setHandler([this](const MessageBox::Request &r) { return answer(r); }))
    {
    }
    ~Boxes() { MessageBox::setHandler(m_previous); }
    void expect(const QString &part, MessageBox::Result answer = MessageBox::Result::Ok)
    {
        m_expected.append({part, answer});
    }
    bool allMet(QString *why) const
    {
        QStringList problems = m_unexpected;
        for (qsizetype i = m_next; i < m_expected.size(); ++i)
            problems << u"not shown: "_s + m_expected.at(i).first;
        *why = problems.join(u'\n');
        return problems.isEmpty();
    }
    QString last() const { return m_shown.isEmpty() ? QString() : m_shown.constLast(); }

private:
    MessageBox::Result answer(const MessageBox::Request &r)
    {
        m_shown.append(r.text);
        if (m_next < m_expected.size() && r.text.contains(m_expected.at(m_next).first))
            return m_expected.at(m_next++).second;
        m_unexpected.append(u"unexpected: "_s + r.text);
        return r.buttons == MessageBox::Buttons::YesNo ? MessageBox::Result::No : MessageBox::Result::Ok;
    }
    QList<std::pair<QString, MessageBox::Result>> m_expected;
    qsizetype m_next = 0;
    QStringList m_unexpected;
    QStringList m_shown;
    MessageBox::Handler m_previous;
};

#define VERIFY_ANSWERED(boxes)                                                                                         \
    do {                                                                                                               \
        QString why_;                                                                                                  \
        QVERIFY2((boxes).allMet(&why_), qPrintable(why_));                                                             \
    } while (false)

// Checks its transcript when the session lets it go.
class CheckedServer : public ScriptedSieveServer {
public:
    explicit CheckedServer(QStringList &failures)
        : ScriptedSieveServer(3)
        , m_failures(failures)
    {
    }
    ~CheckedServer() override
    {
        QString why;
        if (!verify(&why))
            m_failures.append(why);
    }
    // Told each time the client has written.
    std::function<void(const QByteArray &)> heard;
    bool write(const QByteArray &bytes) override
    {
        const bool written = ScriptedSieveServer::write(bytes);
        if (heard)
            heard(bytes);
        return written;
    }

private:
    QStringList &m_failures;
};

ProfileSettingsRecord scriptedProfile()
{
    ProfileSettingsRecord s;
    s.EmailHost = u"mail.example.org"_s;
    s.EmailUserid = u"ann@example.org"_s;
    s.EmailPassword = u"secret"_s;
    s.EmailSecurity = u"SSL/TLS"_s;
    return s;
}

SieveScript::Script scriptFor(const QStringList &filter)
{
    return SieveScript::generate(filter, {u"boss@spam.example"_s},
                                 ServerRules::scriptOptions(scriptedProfile(), kExtensions));
}

QByteArray literal(const QByteArray &bytes)
{
    return '{' + QByteArray::number(bytes.size()) + "}\r\n" + bytes + "\r\nOK\r\n";
}

struct Fixture {
    testsupport::TempHome home;
    Boxes boxes;
    RuleDatabase db;
    RuleLists lists{db};
    CurrentProfile profile;
    QString shown; // what the status line was given last
    ServerRulesNote serverNote{lists, profile, [this](const QString &t) { shown = t; }, nullptr};
    QStringList serverFailures;

    Fixture(const ProfileSettingsRecord &settings, const QStringList &filter)
    {
        QString error;
        if (!db.OpenRuleDatabase(&error))
            qFatal("%s", qPrintable(error));
        for (const QString &r : filter)
            db.InsertRule(u"tbfilter"_s, r);
        db.InsertRule(u"tbexempted"_s, u"boss@spam.example"_s);
        profile.set(u"Mail"_s, settings);
    }
    // The note once the changes at hand have been looked at.
    bool checked(QSignalSpy &spy) { return !spy.isEmpty() || spy.wait(60000); }
};

QString labelText(QDialog &d, const QString &name)
{
    return d.findChild<QLabel *>(name)->text();
}

QPushButton *button(QDialog &d, const QString &name)
{
    return d.findChild<QPushButton *>(name);
}

// Greeted, secured with STARTTLS and signed in as the scripted profile.
void signIn(ScriptedSieveServer &server)
{
    server.greet(kGreeting).afterTls(kSecured).expect("STARTTLS", "OK\r\n");
    server.expect("AUTHENTICATE \"PLAIN\" \"" + QByteArray("\0ann@example.org\0secret", 23).toBase64() + '"', "OK\r\n");
}

// The connections given (a socket when empty), and no DNS.
ServerRules::Seams seamsOf(std::function<std::unique_ptr<MailConnection>()> connection)
{
    return {std::move(connection), [](const QString &) { return std::optional<SieveSrv>(); }, {}};
}

// The dialog shown, and its first look at the server ended.
bool opened(frmServerRules &dialog)
{
    QSignalSpy settled(&dialog, &frmServerRules::settled);
    dialog.show();
    return settled.wait(120000);
}

} // namespace

class TestServerRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusShown_data();
    void statusShown();
    void includeOfferShowsTheChange();
    void cancelWhileTheServerIsSilent();
    void outOfDateAfterRuleChange_data();
    void outOfDateAfterRuleChange();
    void dovecotUploadUpdateRemove();
};

void TestServerRules::statusShown_data()
{
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("upload"); // its caption, "-" when it is off
    QTest::addColumn<bool>("remove");
    QTest::addColumn<QString>("box"); // a part of the error box, if one is due

    const QByteArray current = scriptFor({u"*@spam.example"_s}).text.toUtf8();
    const QByteArray older = scriptFor({u"*@other.example"_s}).text.toUtf8();
    QTest::newRow("nothing there yet") << QByteArrayList{"LISTSCRIPTS"} << QByteArrayList{"OK\r\n"}
                                       << u"State: not uploaded; Trelvik's rules do not run"_s << u"&Upload"_s << false
                                       << QString();
    QTest::newRow("uploaded and active") << QByteArrayList{"LISTSCRIPTS", "GETSCRIPT \"trelvik\""}
                                         << QByteArrayList{"\"trelvik\" ACTIVE\r\nOK\r\n", literal(current)}
                                         << u"State: up to date; Trelvik's rules run on delivery"_s << u"-"_s << true
                                         << QString();
    QTest::newRow("uploaded before the last rule change")
        << QByteArrayList{"LISTSCRIPTS", "GETSCRIPT \"trelvik\""}
        << QByteArrayList{"\"trelvik\" ACTIVE\r\nOK\r\n", literal(older)}
        << u"State: out of date; Trelvik's rules run on delivery"_s << u"&Update"_s << true << QString();
    QTest::newRow("changed by hand on the server: neither replaced nor deleted")
        << QByteArrayList{"LISTSCRIPTS", "GETSCRIPT \"trelvik\""}
        << QByteArrayList{"\"trelvik\" ACTIVE\r\nOK\r\n", literal(current + "discard;\r\n")}
        << u"State: edited on the server; Trelvik's rules do not run"_s << u"-"_s << false << QString();
    QTest::newRow("the server refuses the listing: said in a box")
        << QByteArrayList{"LISTSCRIPTS"} << QByteArrayList{"NO (TRYLATER) \"Mailbox locked\"\r\n"}
        << u"State: unknown"_s << u"-"_s << false << u"Mailbox locked"_s;
}

void TestServerRules::statusShown()
{
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArrayList, answers);
    QFETCH(QString, state);
    QFETCH(QString, upload);
    QFETCH(bool, remove);
    QFETCH(QString, box);
    Fixture f(scriptedProfile(), {u"*@spam.example"_s});
    if (!box.isEmpty())
        f.boxes.expect(box);
    const auto connection = [&f, &commands, &answers] {
        auto server = std::make_unique<CheckedServer>(f.serverFailures);
        signIn(*server);
        for (qsizetype i = 0; i < commands.size(); ++i)
            server->expect(commands.at(i), answers.at(i));
        server->expect("LOGOUT", "OK\r\n");
        return std::unique_ptr<MailConnection>(std::move(server));
    };
    frmServerRules dialog({f.profile.settings(), u"Mail"_s, f.db, {}, &f.serverNote, seamsOf(connection)});
    QVERIFY(opened(dialog));
    QCOMPARE(f.serverFailures, QStringList());
    QCOMPARE(labelText(dialog, u"lblState"_s), state);
    QPushButton *up = button(dialog, u"cmdUpload"_s);
    QCOMPARE(up->isEnabled() ? up->text() : u"-"_s, upload);
    QCOMPARE(button(dialog, u"cmdRemove"_s)->isEnabled(), remove);
    QVERIFY(button(dialog, u"cmdClose"_s)->isEnabled());
    // The script shown is the one the rules make for this server.
    if (box.isEmpty())
        QCOMPARE(SieveScript::read(dialog.findChild<QPlainTextEdit *>(u"txtScript"_s)->toPlainText()).digest,
                 scriptFor({u"*@spam.example"_s}).digest);
    VERIFY_ANSWERED(f.boxes);
}

// Another script is active: the include is offered with the lines it adds,
// and declining leaves the server as it was, saying what the user can do.
void TestServerRules::includeOfferShowsTheChange()
{
    Fixture f(scriptedProfile(), {u"*@spam.example"_s});
    const QByteArray current = scriptFor({u"*@spam.example"_s}).text.toUtf8();
    const auto connection = [&f, &current] {
        auto server = std::make_unique<CheckedServer>(f.serverFailures);
        signIn(*server);
        server->expect("LISTSCRIPTS", "\"mine\" ACTIVE\r\n\"trelvik\"\r\nOK\r\n")
            .expect("GETSCRIPT \"trelvik\"", literal(current))
            .expect("GETSCRIPT \"mine\"", literal(kUserScript))
            .expect("GETSCRIPT \"mine\"", literal(kUserScript))
            .expect("LOGOUT", "OK\r\n");
        return std::unique_ptr<MailConnection>(std::move(server));
    };
    frmServerRules dialog({f.profile.settings(), u"Mail"_s, f.db, {}, &f.serverNote, seamsOf(connection)});
    QVERIFY(opened(dialog));
    QCOMPARE(f.serverFailures, QStringList());
    QCOMPARE(labelText(dialog, u"lblActive"_s), u"Active script: \"mine\" (Trelvik's rules are not in it)"_s);
    QPushButton *up = button(dialog, u"cmdUpload"_s);
    QVERIFY(up->isEnabled());
    f.boxes.expect(u"\r\n\r\n  require [\"fileinto\"];\n"
                   "+ # Added by Trelvik: its rules run first. Removed with them.\n"
                   "+ require \"include\";\n+ include :personal \"trelvik\";\n"
                   "+ # End of the lines added by Trelvik."_s,
                   MessageBox::Result::No);
    f.boxes.expect(u"Nothing was changed on the server"_s);
    up->click(); // no conversation follows a No: the transcript has none
    VERIFY_ANSWERED(f.boxes);
    QVERIFY2(f.boxes.last().contains(u"\"mine\""_s), qPrintable(f.boxes.last()));
}

// A server that never answers: the dialog stays open while it waits, and
// Cancel ends the conversation without a box.
void TestServerRules::cancelWhileTheServerIsSilent()
{
    Fixture f(scriptedProfile(), {u"*@spam.example"_s});
    QStringList ignored; // the transcript ends early by design
    frmServerRules *shown = nullptr;
    bool stayed = false;
    // Once the server holds the listing back, the user tries to close.
    const auto closeWhileWaiting = [&shown, &stayed](const QByteArray &bytes) {
        if (bytes.startsWith("LISTSCRIPTS"))
            QTimer::singleShot(0, shown,
                               [&shown, &stayed] { stayed = shown->busy() && (shown->close(), shown->isVisible()); });
    };
    const auto connection = [&ignored, &closeWhileWaiting] {
        auto server = std::make_unique<CheckedServer>(ignored);
        server->heard = closeWhileWaiting;
        signIn(*server);
        server->expect("LISTSCRIPTS", QByteArray());
        return std::unique_ptr<MailConnection>(std::move(server));
    };
    frmServerRules dialog({f.profile.settings(), u"Mail"_s, f.db, {}, &f.serverNote, seamsOf(connection)});
    shown = &dialog;
    QVERIFY(opened(dialog));
    QVERIFY(stayed); // the close was refused and cancelled instead
    QVERIFY(dialog.isVisible() && !dialog.busy());
    QCOMPARE(labelText(dialog, u"lblState"_s), u"State: unknown"_s);
    QCOMPARE(labelText(dialog, u"lblDone"_s), u"Cancelled."_s);
    QVERIFY(!button(dialog, u"cmdUpload"_s)->isEnabled() && button(dialog, u"cmdRefresh"_s)->isEnabled());
    VERIFY_ANSWERED(f.boxes);
}

void TestServerRules::outOfDateAfterRuleChange_data()
{
    QTest::addColumn<QString>("uploaded"); // the server's state seen last
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("note");
    const QString stale = ServerRulesNote::kOutOfDateText;
    QTest::newRow("up to date, a filter rule added") << u"up to date"_s << u"add filter"_s << stale;
    QTest::newRow("up to date, an exempted rule deleted") << u"up to date"_s << u"delete exempted"_s << stale;
    QTest::newRow("up to date, a rule added and taken out again") << u"up to date"_s << u"add and undo"_s << QString();
    QTest::newRow("up to date, rules imported while no list shows") << u"up to date"_s << u"import"_s << stale;
    QTest::newRow("up to date, the profile's Junk folder renamed") << u"up to date"_s << u"junk"_s << stale;
    QTest::newRow("out of date already, nothing changed") << u"out of date"_s << u"none"_s << stale;
    QTest::newRow("never uploaded, a rule added") << u"not uploaded"_s << u"add filter"_s << QString();
}

void TestServerRules::outOfDateAfterRuleChange()
{
    QFETCH(QString, uploaded);
    QFETCH(QString, change);
    QFETCH(QString, note);
    Fixture f(scriptedProfile(), {u"*@spam.example"_s});
    ServerRules::Report seen;
    seen.reached = true;
    seen.extensions = kExtensions;
    seen.script = scriptFor({u"*@spam.example"_s});
    seen.outcome.status.state = uploaded == u"up to date"_s ? SieveUpload::State::UpToDate
        : uploaded == u"out of date"_s                      ? SieveUpload::State::OutOfDate
                                                            : SieveUpload::State::NotUploaded;
    QSignalSpy first(&f.serverNote, &ServerRulesNote::checked);
    QCOMPARE(f.serverNote.remember(u"Mail"_s, seen), QString());
    QVERIFY(f.checked(first));
    QCOMPARE(f.shown, uploaded == u"out of date"_s ? ServerRulesNote::kOutOfDateText : QString());
    f.lists.fillFilterList();
    QSignalSpy after(&f.serverNote, &ServerRulesNote::checked);
    QAction importRules;
    f.serverNote.watch(&importRules);
    if (change == u"add filter"_s || change == u"add and undo"_s)
        f.lists.AddFilter(u"*@new.example"_s);
    if (change == u"add and undo"_s)
        f.lists.DeleteFilter(u"*@new.example"_s);
    if (change == u"delete exempted"_s) {
        f.lists.fillExemptedList();
        f.lists.DeleteExempted(u"boss@spam.example"_s);
    }
    if (change == u"import"_s) {
        f.lists.clearBoth();
        QVERIFY(f.checked(after));
        after.clear();
        f.db.InsertRule(u"tbfilter"_s, u"*@imported.example"_s); // no list row changes
        importRules.trigger();
    }
    if (change == u"junk"_s) {
        ProfileSettingsRecord s = f.profile.settings();
        s.ImapEmptyAction = u"Junk"_s;
        s.ImapTargetFolder = u"Spam"_s;
        f.profile.set(u"Mail"_s, s);
    }
    if (change == u"none"_s)
        f.serverNote.schedule();
    QVERIFY(f.checked(after));
    QCOMPARE(f.serverNote.text(), note);
    QCOMPARE(f.shown, note);
}

// The whole round against a real server: upload with the activation asked,
// the note after a rule change, Update, and Remove; then the include into
// the user's own active script, and its removal.
void TestServerRules::dovecotUploadUpdateRemove()
{
    QString why;
    if (!testsupport::DovecotServer::available(&why))
        QSKIP(qPrintable(why));
    testsupport::DovecotServer dovecot;
    dovecot.setSieve({true, 0, {}});
    QVERIFY2(dovecot.start(&why), qPrintable(why));
    Fixture f(dovecot.imapProfile(), {u"*@spam.example"_s});
    const ServerRules::Seams seams = seamsOf({});
    {
        frmServerRules dialog({f.profile.settings(), u"Mail"_s, f.db, {}, &f.serverNote, seams});
        QVERIFY(opened(dialog));
        QCOMPARE(labelText(dialog, u"lblState"_s), u"State: not uploaded; Trelvik's rules do not run"_s);
        f.boxes.expect(u"make it the active one?"_s, MessageBox::Result::Yes);
        button(dialog, u"cmdUpload"_s)->click();
        QCOMPARE(labelText(dialog, u"lblState"_s), u"State: up to date; Trelvik's rules run on delivery"_s);
        QVERIFY2(labelText(dialog, u"lblDone"_s).contains(u"activated \"trelvik\""_s),
                 qPrintable(labelText(dialog, u"lblDone"_s)));
        QTRY_COMPARE(f.serverNote.text(), QString());

        f.lists.AddFilter(u"*@more.example"_s);
        QTRY_COMPARE(f.serverNote.text(), ServerRulesNote::kOutOfDateText);
        button(dialog, u"cmdRefresh"_s)->click();
        QCOMPARE(labelText(dialog, u"lblState"_s), u"State: out of date; Trelvik's rules run on delivery"_s);
        QCOMPARE(button(dialog, u"cmdUpload"_s)->text(), u"&Update"_s);
        button(dialog, u"cmdUpload"_s)->click();
        QCOMPARE(labelText(dialog, u"lblState"_s), u"State: up to date; Trelvik's rules run on delivery"_s);
        QTRY_COMPARE(f.serverNote.text(), QString());

        f.boxes.expect(u"Remove Trelvik's rules from the server?"_s, MessageBox::Result::Yes);
        button(dialog, u"cmdRemove"_s)->click();
        QCOMPARE(labelText(dialog, u"lblState"_s), u"State: not uploaded; Trelvik's rules do not run"_s);
        QCOMPARE(labelText(dialog, u"lblActive"_s), u"Active script: none"_s);
    }
    // The user's own script is active: Trelvik's is included after asking,
    // and Remove gives the script back as it was.
    CancelFlag cancel;
    SieveSession own(f.profile.settings(), sieveEndpoint(f.profile.settings()), cancel);
    QVERIFY(own.connectServer().ok() && own.login().ok());
    QVERIFY(own.putScript(u"mine"_s, kUserScript).ok() && own.setActive(u"mine"_s).ok());
    frmServerRules dialog({f.profile.settings(), u"Mail"_s, f.db, {}, &f.serverNote, seams});
    QVERIFY(opened(dialog));
    f.boxes.expect(u"+ include :personal \"trelvik\";"_s, MessageBox::Result::Yes);
    button(dialog, u"cmdUpload"_s)->click();
    QCOMPARE(labelText(dialog, u"lblActive"_s), u"Active script: \"mine\" (it includes Trelvik's rules)"_s);
    QByteArray text;
    QVERIFY(own.getScript(u"mine"_s, &text).ok() && SieveInclude::has(text));
    f.boxes.expect(u"taken out of \"mine\""_s, MessageBox::Result::Yes);
    button(dialog, u"cmdRemove"_s)->click();
    QVERIFY(own.getScript(u"mine"_s, &text).ok());
    QCOMPARE(text, kUserScript);
    own.logout();
    VERIFY_ANSWERED(f.boxes);
}

QTEST_MAIN(TestServerRules)
#include "tst_serverrules.moc"
