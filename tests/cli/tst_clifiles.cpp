// The command line and the files it works on: a rule export to a full
// disk, a damaged rule database, base directories given as relative paths.
// The program runs as a process against a private home.
#include "DamagedDatabase.h"
#include "ProgramRun.h"
#include "RuleDatabase.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

using Result = ProgramResult;

// Runs the program; `fileSizeLimit` (bytes) makes every file write of it
// past that size fail, as a full disk does.
Result trelvik(const QStringList &arguments, QProcessEnvironment env = QProcessEnvironment::systemEnvironment(),
               const QString &workingFolder = {}, rlim_t fileSizeLimit = RLIM_INFINITY)
{
    return runProgram(arguments, {std::move(env), workingFolder, fileSizeLimit, {}});
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList manyRules(int count)
{
    QStringList rules;
    for (int i = 0; i < count; ++i)
        rules << u"sender%1@spam.example"_s.arg(i);
    return rules;
}

} // namespace

class TestCliFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The disk takes no byte of the export (a small one) or stops midway (a
    // large one): the run fails with the system's reason and the old rule
    // file stays as it was.
    void exportToFullDiskKeepsOldFile_data()
    {
        QTest::addColumn<int>("rules");
        QTest::addColumn<int>("limit");
        QTest::newRow("small export, nothing fits") << 2 << 0;
        QTest::newRow("large export, cut midway") << 3000 << 16384;
    }
    void exportToFullDiskKeepsOldFile()
    {
        QFETCH(int, rules);
        QFETCH(int, limit);
        testsupport::TempHome home;
        QVERIFY(testsupport::makeRuleDatabase(home.appDataFolder(), manyRules(rules), {u"boss@work.example"_s}));
        QTemporaryDir out;
        const QString path = out.filePath(u"rules.txt"_s);
        QVERIFY(write(path, "filter kept@old.example\n"));

        const Result run = trelvik({u"--export-rules"_s, path}, QProcessEnvironment::systemEnvironment(), {},
                                   rlim_t(limit));
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(QFile::encodeName(path)) && run.err.contains(std::strerror(EFBIG)),
                 run.err.constData());
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(contents(path), QByteArray("filter kept@old.example\n"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"rules.txt"_s});

        // With room on the disk the same export goes through.
        QCOMPARE(trelvik({u"--export-rules"_s, path, u"--quiet"_s}).code, 0);
        const QList<QByteArray> lines = contents(path).split('\n');
        const auto isRule = [](const QByteArray &line) { return !line.isEmpty() && !line.startsWith('#'); };
        QCOMPARE(std::count_if(lines.cbegin(), lines.cend(), isRule), qsizetype(rules + 1));
    }

    // As the window checks at start, so does every command: a damaged
    // database is refused and left exactly as it was.
    void damagedDatabaseRefused_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QStringList>("arguments");
        const QStringList commands{u"--history"_s, u"--import-rules"_s, u"--export-rules"_s, u"--check"_s};
        for (const char *table : {"tbdeleted", "tbfilter"}) {
            for (const QString &command : commands)
                QTest::addRow("%s damaged, %s", table, qPrintable(command))
                    << QByteArray(table) << QStringList{command};
        }
    }
    void damagedDatabaseRefused()
    {
        QFETCH(QByteArray, table);
        QFETCH(QStringList, arguments);
        testsupport::TempHome home;
        const QString folder = home.appDataFolder();
        QVERIFY(testsupport::makeRuleDatabase(folder, manyRules(300), {u"boss@work.example"_s}));
        QVERIFY(testsupport::damageTable(folder, table.constData()));
        const QByteArray before = contents(folder + u"/trelvik.mdb"_s);
        const QString file = home.path() + u"/rules.txt"_s;
        if (arguments.first() == u"--import-rules"_s)
            QVERIFY(write(file, "filter new@spam.example\n"));
        if (arguments.first() != u"--history"_s && arguments.first() != u"--check"_s)
            arguments << file;

        const Result run = trelvik(arguments);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains("damaged"), run.err.constData());
        QCOMPARE(contents(folder + u"/trelvik.mdb"_s), before);
        QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        left.removeAll(u"trelvik.lock"_s);
        QCOMPARE(left, QStringList{u"trelvik.mdb"_s});
        if (arguments.first() == u"--export-rules"_s)
            QVERIFY(!QFile::exists(file));
    }

    // A relative base directory names no place (it would be another one from
    // every working folder): the usual places under $HOME are used.
    void relativeBaseDirectoriesIgnored()
    {
        testsupport::TempHome home;
        const QString user = home.path() + u"/user"_s;
        const QString here = home.path() + u"/here"_s;
        const QString there = home.path() + u"/there"_s;
        QVERIFY(QDir().mkpath(user) && QDir().mkpath(here) && QDir().mkpath(there));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, user);
        env.insert(u"XDG_DATA_HOME"_s, u"data"_s);
        env.insert(u"XDG_CONFIG_HOME"_s, u"config"_s);
        const QString in = home.path() + u"/in.txt"_s;
        QVERIFY(write(in, "filter *@spam.example\n"));

        QCOMPARE(trelvik({u"--import-rules"_s, in}, env, here).code, 0);
        QVERIFY(QFile::exists(user + u"/.local/share/Trelvik/trelvik.mdb"_s));
        QCOMPARE(QDir(here).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());

        const QString out = home.path() + u"/out.txt"_s;
        QCOMPARE(trelvik({u"--export-rules"_s, out, u"--quiet"_s}, env, there).code, 0);
        QVERIFY2(contents(out).contains("filter *@spam.example\n"), contents(out).constData());
    }

    // Standard output on a full disk: the run says so and fails, instead of
    // ending well with its report cut short.
    void fullStandardOutput_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("--history --json") << QStringList{u"--history"_s, u"--json"_s};
        QTest::newRow("--help") << QStringList{u"--help"_s};
    }
    void fullStandardOutput()
    {
        QFETCH(QStringList, arguments);
        testsupport::TempHome home;
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(u"/dev/full"_s);
        process.start(QStringLiteral(TRELVIK_BINARY), arguments);
        QVERIFY(process.waitForFinished(60'000));
        const QByteArray err = process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains("trelvik: The output could not be written: " + QByteArray(std::strerror(ENOSPC))),
                 err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliFiles)
#include "tst_clifiles.moc"
