// The rules on a real ManageSieve server: a private Dovecot with Pigeonhole,
// the program itself uploading, and mail delivered through Dovecot's LDA
// with nothing of Trelvik running.
#include "CancelFlag.h"
#include "DovecotServer.h"
#include "ProfileKeys.h"
#include "ProfileRecord.h"
#include "ProgramRun.h"
#include "RuleDatabase.h"
#include "Scramble.h"
#include "SettingsStore.h"
#include "SieveInclude.h"
#include "SieveUpload.h"
#include "TestSupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kSpam = "From: offers@spam.example\r\nTo: trelvik@localhost\r\nSubject: cheap\r\n\r\nbuy\r\n";
// Exempted, and a bill the user's own filter files.
const QByteArray kExempt =
    "From: boss@spam.example\r\nTo: trelvik@localhost\r\nSubject: cheap too, the invoice\r\n\r\nhi\r\n";
const QByteArray kInvoice =
    "From: shop@elsewhere.example\r\nTo: trelvik@localhost\r\nSubject: Your invoice\r\n\r\nx\r\n";
// The user's own filter: what it files must still land there.
const QByteArray kUserScript = "require [\"fileinto\"];\r\n# Bills go to their folder.\r\nif header :contains "
                               "\"subject\" \"invoice\" {\r\n  fileinto \"Bills\";\r\n}\r\n";

void writeProfile(const ProfileSettingsRecord &s)
{
    using namespace modRegistry;
    const QString key = kSettingKeyPrefix + u"Mail"_s;
    QString plain = s.EmailPassword; // scrambling takes its text by reference
    const QList<std::pair<QString, QString>> values{{u"EmailHost"_s, s.EmailHost},
                                                    {u"EmailPort"_s, s.EmailPort},
                                                    {u"EmailUserId"_s, s.EmailUserid},
                                                    {u"EmailPassword"_s, modSecurity::ScrambleText(plain)},
                                                    {u"EmailSecurity"_s, s.EmailSecurity},
                                                    {u"TrustedCertificate"_s, s.TrustedCertificate},
                                                    {u"MailProtocol"_s, s.MailProtocol},
                                                    {u"SievePort"_s, s.SievePort}};
    for (const auto &[name, value] : values)
        WriteStoreValue(HKEY_CURRENT_USER, key, name, REG_SZ, value);
    WriteStoreValue(HKEY_CURRENT_USER, kTrelvikKey, u"LastProfile"_s, REG_SZ, u"Mail"_s);
}

void setRules(const QStringList &filter, const QStringList &exempted)
{
    RuleDatabase rules;
    QString error;
    QVERIFY2(rules.OpenRuleDatabase(&error), qPrintable(error));
    for (const QString &r : rules.FillRules(u"tbfilter"_s).value_or(QStringList()))
        QVERIFY(rules.DeleteRule(u"tbfilter"_s, r));
    for (const QString &r : filter)
        QVERIFY(rules.InsertRule(u"tbfilter"_s, r));
    for (const QString &r : exempted)
        QVERIFY(rules.InsertRule(u"tbexempted"_s, r));
}

ProgramResult trelvik(QStringList arguments)
{
    ProgramStart start;
    start.env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent/bus"_s);
    return runProgram(arguments << u"--profile"_s << u"Mail"_s, start);
}

// A logged-in session of the test's own, to set the server up and to look.
struct Session {
    ProfileSettingsRecord settings;
    CancelFlag cancel;
    std::unique_ptr<SieveSession> session;

    explicit Session(const testsupport::DovecotServer &dovecot)
        : settings(dovecot.imapProfile())
    {
        session = std::make_unique<SieveSession>(settings, sieveEndpoint(settings), cancel);
    }
    bool open(QString *why)
    {
        MailResult r = session->connectServer();
        if (r.ok())
            r = session->login();
        *why = r.text;
        return r.ok();
    }
    QByteArray script(const QString &name)
    {
        QByteArray text;
        return session->getScript(name, &text).ok() ? text : QByteArray("(none)");
    }
    QStringList names()
    {
        QList<SieveScriptEntry> list;
        (void)session->listScripts(&list);
        QStringList out;
        for (const SieveScriptEntry &e : list)
            out << e.name + (e.active ? u" ACTIVE"_s : QString());
        out.sort();
        return out;
    }
};

} // namespace

class TestDovecotSieve : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TempHome> m_home;
    std::unique_ptr<testsupport::DovecotServer> m_dovecot;

    bool startDovecot(const testsupport::DovecotServer::SieveSetup &setup)
    {
        m_dovecot = std::make_unique<testsupport::DovecotServer>();
        m_dovecot->setSieve(setup);
        QString why;
        if (!m_dovecot->start(&why)) {
            qWarning("%s", qPrintable(why));
            return false;
        }
        writeProfile(m_dovecot->imapProfile());
        return true;
    }
    void deliverAll()
    {
        QString why;
        for (const QByteArray &m : {kSpam, kExempt, kInvoice})
            QVERIFY2(m_dovecot->deliver(m, &why), qPrintable(why));
    }

private Q_SLOTS:
    void init()
    {
        QString why;
        if (!testsupport::DovecotServer::available(&why))
            QSKIP(qPrintable(why));
        m_home = std::make_unique<testsupport::TempHome>();
        setRules({u"*@spam.example"_s}, {u"boss@spam.example"_s});
    }
    void cleanup()
    {
        m_dovecot.reset();
        m_home.reset();
    }

    void uploadActivatesAndTheServerFilters();
    void includeIntoTheUsersActiveScript();
    void editedScriptIsNeverReplaced();
    void refusals_data();
    void refusals();
};

void TestDovecotSieve::uploadActivatesAndTheServerFilters()
{
    QVERIFY(startDovecot({true, 0, {}}));
    ProgramResult run = trelvik({u"--sieve-upload"_s});
    QVERIFY2(run.code == 0, run.err.constData());
    QVERIFY2(run.out.contains("up to date"), run.out.constData());

    // Delivered with Trelvik not running: the server's engine sorts.
    deliverAll();
    QCOMPARE(m_dovecot->messageCount(u"Junk"_s), 1);
    QCOMPARE(m_dovecot->messageCount(), 2); // the exempted message and the invoice

    run = trelvik({u"--sieve-status"_s, u"--json"_s});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.json().value(u"state"_s).toString(), u"up to date"_s);
    QVERIFY(run.json().value(u"running"_s).toBool());
    setRules({u"*@other.example"_s}, {});
    QCOMPARE(trelvik({u"--sieve-status"_s, u"--json"_s}).json().value(u"state"_s).toString(), u"out of date"_s);
    run = trelvik({u"--sieve-upload"_s, u"--quiet"_s}); // as the timer keeps it current
    QVERIFY2(run.code == 0, run.err.constData());
    QCOMPARE(trelvik({u"--sieve-status"_s, u"--json"_s}).json().value(u"state"_s).toString(), u"up to date"_s);

    run = trelvik({u"--sieve-remove"_s});
    QVERIFY2(run.code == 0, run.err.constData());
    Session look(*m_dovecot);
    QString why;
    QVERIFY2(look.open(&why), qPrintable(why));
    QCOMPARE(look.names(), QStringList());
    QVERIFY(m_dovecot->deliver(kSpam, &why));
    QCOMPARE(m_dovecot->messageCount(u"Junk"_s), 1);
    QCOMPARE(trelvik({u"--sieve-remove"_s}).code, 1); // nothing left to remove
}

void TestDovecotSieve::includeIntoTheUsersActiveScript()
{
    QVERIFY(startDovecot({true, 0, {}}));
    Session setUp(*m_dovecot);
    QString why;
    QVERIFY2(setUp.open(&why), qPrintable(why));
    QVERIFY(setUp.session->putScript(u"mine"_s, kUserScript).ok());
    QVERIFY(setUp.session->setActive(u"mine"_s).ok());
    setUp.session->logout();

    // Not without being asked: nothing changes.
    ProgramResult run = trelvik({u"--sieve-upload"_s});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains("--sieve-include") && run.err.contains("\"mine\""), run.err.constData());
    Session look(*m_dovecot);
    QVERIFY2(look.open(&why), qPrintable(why));
    QCOMPARE(look.names(), QStringList{u"mine ACTIVE"_s});

    run = trelvik({u"--sieve-upload"_s, u"--sieve-include"_s});
    QVERIFY2(run.code == 0, run.err.constData());
    QCOMPARE(look.names(), (QStringList{u"mine ACTIVE"_s, u"mine.before-trelvik"_s, u"trelvik"_s}));
    QCOMPARE(look.script(u"mine.before-trelvik"_s), kUserScript);
    QVERIFY(SieveInclude::has(look.script(u"mine"_s)));

    deliverAll();
    QCOMPARE(m_dovecot->messageCount(u"Junk"_s), 1);
    // The user's own filter still runs, on exempted mail too.
    QCOMPARE(m_dovecot->messageCount(u"Bills"_s), 2);
    QCOMPARE(m_dovecot->messageCount(), 0);
    // Uploading again changes the include no further.
    QCOMPARE(trelvik({u"--sieve-upload"_s}).code, 0);

    run = trelvik({u"--sieve-remove"_s});
    QVERIFY2(run.code == 0, run.err.constData());
    QCOMPARE(look.names(), QStringList{u"mine ACTIVE"_s});
    QCOMPARE(look.script(u"mine"_s), kUserScript);
}

void TestDovecotSieve::editedScriptIsNeverReplaced()
{
    QVERIFY(startDovecot({true, 0, {}}));
    QCOMPARE(trelvik({u"--sieve-upload"_s}).code, 0);
    Session look(*m_dovecot);
    QString why;
    QVERIFY2(look.open(&why), qPrintable(why));
    const QByteArray edited = look.script(u"trelvik"_s) + "if header :contains \"subject\" \"x\" { keep; }\n";
    QVERIFY(look.session->putScript(u"trelvik"_s, edited).ok());

    for (const QString &action : {u"--sieve-upload"_s, u"--sieve-remove"_s}) {
        const ProgramResult run = trelvik({action});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains("not the one Trelvik wrote"), run.err.constData());
    }
    QCOMPARE(trelvik({u"--sieve-status"_s, u"--json"_s}).json().value(u"state"_s).toString(),
             u"edited on the server"_s);
    QCOMPARE(look.script(u"trelvik"_s), edited);
    QCOMPARE(look.names(), QStringList{u"trelvik ACTIVE"_s});
}

void TestDovecotSieve::refusals_data()
{
    QTest::addColumn<qint64>("maxSize");
    QTest::addColumn<QString>("extensions");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QStringList>("leftOnServer");
    QTest::newRow("script over the size limit")
        << qint64(3000) << QString() << QByteArray("(max 3000 bytes)") << QStringList{u"mine ACTIVE"_s};
    QTest::newRow("include rejected by the check")
        << qint64(0) << u"-include"_s << QByteArray("check rejected") << QStringList{u"mine ACTIVE"_s, u"trelvik"_s};
}

// The server refuses: what it said reaches the user, the user's script is
// as it was, and no copy of it is left about.
void TestDovecotSieve::refusals()
{
    QFETCH(qint64, maxSize);
    QFETCH(QString, extensions);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, leftOnServer);
    QStringList many;
    for (int i = 0; i < 200; ++i)
        many << u"*@spam%1.example"_s.arg(i);
    setRules(many, {});
    QVERIFY(startDovecot({true, maxSize, extensions}));
    Session setUp(*m_dovecot);
    QString why;
    QVERIFY2(setUp.open(&why), qPrintable(why));
    QVERIFY(setUp.session->putScript(u"mine"_s, kUserScript).ok());
    QVERIFY(setUp.session->setActive(u"mine"_s).ok());

    const ProgramResult run = trelvik({u"--sieve-upload"_s, u"--sieve-include"_s});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.err.contains(expected), run.err.constData());
    QCOMPARE(setUp.names(), leftOnServer);
    QCOMPARE(setUp.script(u"mine"_s), kUserScript);
}

QTEST_GUILESS_MAIN(TestDovecotSieve)
#include "tst_dovecotsieve.moc"
