// Speed of making the Sieve script of a large rule database and writing it
// to a file, as `trelvik --sieve-export` does, and the script's size.
#include "DurableFile.h"
#include "SieveScript.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kRules = 100000;

// The kinds users keep, in rough proportion: mostly addresses and domains,
// some patterns and header rules, a few in other scripts.
QString rule(int i)
{
    switch (i % 10) {
    case 0:
        return QStringLiteral("*@*.spam%1.example").arg(i);
    case 1:
        return QStringLiteral("Subject: *offer %1*").arg(i);
    case 2:
        return QStringLiteral("Müller.%1@Beispiel-%2.de").arg(i).arg(i % 97);
    case 3:
    case 4:
        return QStringLiteral("*@domain-%1.example").arg(i);
    default:
        return QStringLiteral("Sender.%1@Example-%2.COM").arg(i).arg(i % 113);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList filter, exempted;
    for (int i = 0; i < kRules; ++i)
        (i % 5 == 4 ? exempted : filter).append(rule(i));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trelvik.sieve"));

    QElapsedTimer timer;
    timer.start();
    const SieveScript::Script script = SieveScript::generate(filter, exempted, {});
    const qint64 made = timer.elapsed();
    QString error;
    const QByteArray bytes = script.text.toUtf8();
    if (!DurableFile::write(path, bytes, DurableFile::Access::Private, &error)) {
        std::fprintf(stderr, "cannot write the script: %s\n", qPrintable(error));
        return 1;
    }
    const qint64 ms = timer.elapsed();
    std::printf("BENCH sieve_export_100k_rules %lld ms\n", static_cast<long long>(ms));
    std::printf("BENCH sieve_export_100k_rules_made %lld ms\n", static_cast<long long>(made));
    std::printf("BENCH sieve_export_100k_rules_size %lld bytes\n", static_cast<long long>(bytes.size()));
    std::printf("BENCH sieve_export_100k_rules_left_out %lld rules\n", static_cast<long long>(script.leftOut.size()));
    return 0;
}
