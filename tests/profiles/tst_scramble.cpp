#include "Scramble.h"

#include <QRandomGenerator>
#include <QTest>

using modSecurity::ScrambleText;
using modSecurity::UnscrambleText;

namespace {

QString group(int n)
{
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

// The stored form in the documented layout, key position k and filler 500:
// the UTF-8 bytes, each code chained to the byte before it, then the length.
QString handMade(int k, const QByteArray &bytes)
{
    static const char keyText[] = "x5pq8rj2wd7mz4kc1vbn6ht9fs3gy0";
    QString s = group(k) + group(500).repeated(qMax(0, 80 - int(bytes.size())));
    unsigned char previous = static_cast<unsigned char>(keyText[k - 1]);
    for (char b : bytes) {
        s += group(previous ^ static_cast<unsigned char>(b));
        previous = static_cast<unsigned char>(b);
    }
    return s + group(int(bytes.size()));
}

} // namespace

class TestScramble : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyLength();
    void nonAsciiAndRandom();
    void junkReadsEmpty_data();
    void junkReadsEmpty();
};

void TestScramble::everyLength()
{
    for (int n = 1; n <= 999; ++n) {
        // Printable ASCII without the space, so trimming leaves it whole.
        QString password;
        for (int i = 0; i < n; ++i)
            password += QChar(char16_t(QRandomGenerator::global()->bounded(33, 127)));
        const QString original = password;
        const QString stored = ScrambleText(password);
        QCOMPARE(UnscrambleText(stored), original);
        if (n > 80)
            continue;
        // 82 groups: key position, filler (none at 80), chained codes, length.
        const int k = stored.left(3).toInt();
        const int codes = 3 * (n + 1);
        QVERIFY2(stored.size() == 246 && k >= 1 && k <= 30
                     && stored.right(codes) == handMade(k, original.toLatin1()).right(codes),
                 qPrintable(stored));
    }
}

void TestScramble::nonAsciiAndRandom()
{
    QString password = u"pässwörd🔑"_qs;
    const QString stored = ScrambleText(password);
    QCOMPARE(UnscrambleText(stored), u"pässwörd🔑"_qs);
    QVERIFY(ScrambleText(password) != stored);
}

void TestScramble::junkReadsEmpty_data()
{
    QTest::addColumn<QString>("stored");
    const QString good = handMade(5, "abc");
    QTest::newRow("not whole groups") << good.chopped(1);
    QTest::newRow("key position 31") << QString(good).replace(0, 3, u"031"_qs);
    QTest::newRow("lone lead byte") << handMade(3, QByteArray("\xC3", 1));
}

void TestScramble::junkReadsEmpty()
{
    QFETCH(QString, stored);
    QCOMPARE(UnscrambleText(stored), QString());
}

QTEST_APPLESS_MAIN(TestScramble)
#include "tst_scramble.moc"
