#include "Scramble.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using modSecurity::ScrambleText;
using modSecurity::UnscrambleText;

namespace {

const char kKeyText[] = "x5pq8rj2wd7mz4kc1vbn6ht9fs3gy0";

QString group(int n) { return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0')); }

int groupAt(const QString &stored, int index) { return stored.mid(index * 3, 3).toInt(); }

// The stored form in the documented layout, key position k and filler 500:
// the UTF-8 bytes, each code chained to the byte before it, then the length.
QString handMade(int k, const QByteArray &bytes)
{
    QString s = group(k) + group(500).repeated(qMax(0, 80 - int(bytes.size())));
    unsigned char previous = static_cast<unsigned char>(kKeyText[k - 1]);
    for (char b : bytes) {
        s += group(previous ^ static_cast<unsigned char>(b));
        previous = static_cast<unsigned char>(b);
    }
    return s + group(int(bytes.size()));
}

// Scrambles `typed` (trimming it); a stored form not laid out as handMade()
// (but for the random key position and filler) comes back marked "bad".
QString scrambled(QString &typed)
{
    const QString stored = ScrambleText(typed);
    const QByteArray bytes = typed.toUtf8();
    const int k = groupAt(stored, 0);
    const int codes = 3 * (int(bytes.size()) + 1);
    const bool laidOut = QRegularExpression(u"^\\d+$"_qs).match(stored).hasMatch() && k >= 1 && k <= 30
        && stored.size() == qMax(246, codes + 3) && stored.right(codes) == handMade(k, bytes).right(codes);
    return laidOut ? stored : u"bad: "_qs + stored;
}

} // namespace

class TestScramble : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyLength();
    void fillerIgnoredAndRandom();
    void text_data();
    void text();
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
        const QString stored = scrambled(password);
        QVERIFY2(UnscrambleText(stored) == original, qPrintable(stored));
    }
    QString tooLong(1000, QLatin1Char('a'));
    QCOMPARE(ScrambleText(tooLong), QString());
}

void TestScramble::fillerIgnoredAndRandom()
{
    QString password = QStringLiteral("secret");
    const QString stored = ScrambleText(password);
    for (int g = 1; g <= 80 - 6; ++g) {
        QString edited = stored;
        edited.replace(g * 3, 3, group(groupAt(stored, g) == 7 ? 8 : 7));
        QCOMPARE(UnscrambleText(edited), password);
    }
    QVERIFY(ScrambleText(password) != stored);
}

void TestScramble::text_data()
{
    // The caller's variable is trimmed; inner and non-space blanks stay.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("accents") << u"pässwörd"_qs << u"pässwörd"_qs;
    QTest::newRow("outside the BMP") << u"key🔑lock"_qs << u"key🔑lock"_qs;
    QTest::newRow("80 bytes of ä: no filler") << QString(40, QChar(0xE4)) << QString(40, QChar(0xE4));
    QTest::newRow("82 bytes of ä") << QString(41, QChar(0xE4)) << QString(41, QChar(0xE4));
    QTest::newRow("999 bytes") << QString(333, QChar(0x20AC)) << QString(333, QChar(0x20AC));
    QTest::newRow("surrounding spaces trimmed") << u"  Pass \tWord  "_qs << u"Pass \tWord"_qs;
    QTest::newRow("spaces only store nothing") << u"    "_qs << QString();
}

void TestScramble::text()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    const QString stored = kept.isEmpty() ? ScrambleText(typed) : scrambled(typed);
    QCOMPARE(typed, kept);
    QCOMPARE(stored.isEmpty(), kept.isEmpty());
    QCOMPARE(UnscrambleText(stored), kept);
}

void TestScramble::junkReadsEmpty_data()
{
    QTest::addColumn<QString>("stored");
    const QString good = handMade(5, "abc");
    QTest::newRow("empty") << QString();
    QTest::newRow("short") << u"12"_qs;
    QTest::newRow("not whole groups") << good.chopped(1);
    QTest::newRow("spaces") << QString(246, u' ');
    QTest::newRow("letter in filler") << QString(good).replace(9, 1, u'x');
    QTest::newRow("key position 0") << QString(good).replace(0, 3, u"000"_qs);
    QTest::newRow("key position 31") << QString(good).replace(0, 3, u"031"_qs);
    QTest::newRow("length 0") << QString(good).replace(243, 3, u"000"_qs);
    QTest::newRow("length 81 in 82 groups") << QString(good).replace(243, 3, u"081"_qs);
    QTest::newRow("a group dropped") << good.left(240) + good.right(3);
    QTest::newRow("code over 255") << QString(good).replace(237, 3, u"999"_qs);
    QTest::newRow("lone lead byte") << handMade(3, QByteArray("\xC3", 1));
    QTest::newRow("overlong slash") << handMade(3, QByteArray("\xC0\xAF", 2));
    QTest::newRow("encoded surrogate") << handMade(3, QByteArray("\xED\xA0\x80", 3));
}

void TestScramble::junkReadsEmpty()
{
    QFETCH(QString, stored);
    QCOMPARE(UnscrambleText(stored), QString());
}

QTEST_APPLESS_MAIN(TestScramble)
#include "tst_scramble.moc"
