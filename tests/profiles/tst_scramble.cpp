#include "Scramble.h"

#include <QRandomGenerator>
#include <QTest>

using modSecurity::ScrambleText;
using modSecurity::UnscrambleText;

namespace {

const char kKeyText[] = "x5pq8rj2wd7mz4kc1vbn6ht9fs3gy0";

QString group(int n)
{
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

int groupAt(const QString &stored, int index)
{
    return stored.mid(index * 3, 3).toInt();
}

// A stored form written by hand in the documented layout, for bytes that
// the program itself would never produce.
QString handMade(int k, const QByteArray &bytes, int lengthGroup = -1)
{
    QString s = group(k);
    for (qsizetype i = bytes.size(); i < 80; ++i)
        s += group(500);
    unsigned char previous = static_cast<unsigned char>(kKeyText[k - 1]);
    for (char b : bytes) {
        s += group(previous ^ static_cast<unsigned char>(b));
        previous = static_cast<unsigned char>(b);
    }
    return s + group(lengthGroup < 0 ? int(bytes.size()) : lengthGroup);
}

QString randomPassword(int length)
{
    // Printable ASCII without the space, so trimming leaves it whole.
    QString s;
    for (int i = 0; i < length; ++i)
        s += QChar(char16_t(QRandomGenerator::global()->bounded(33, 127)));
    return s;
}

} // namespace

class TestScramble : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyLengthRoundTrips();
    void layoutUpToEighty();
    void eightyHasNoFiller();
    void chainedCodes();
    void fillerIsIgnored();
    void twoScramblesDiffer();
    void textRoundTrips_data();
    void textRoundTrips();
    void trimsCallersVariable_data();
    void trimsCallersVariable();
    void tooLongIsNotStored();
    void junkReadsEmpty_data();
    void junkReadsEmpty();
};

void TestScramble::everyLengthRoundTrips()
{
    for (int n = 1; n <= 999; ++n) {
        QString password = randomPassword(n);
        const QString original = password;
        const QString stored = ScrambleText(password);
        QCOMPARE(password, original);
        QCOMPARE(stored.size(), n <= 80 ? 246 : 3 * (n + 2));
        QCOMPARE(groupAt(stored, int(stored.size() / 3) - 1), n);
        if (UnscrambleText(stored) != original)
            QFAIL(qPrintable(QStringLiteral("length %1 does not round-trip").arg(n)));
    }
}

void TestScramble::layoutUpToEighty()
{
    for (int n = 1; n <= 80; ++n) {
        QString password = randomPassword(n);
        const QString stored = ScrambleText(password);
        QCOMPARE(stored.size(), 246);
        for (QChar c : stored)
            QVERIFY(c.isDigit());
        const int k = groupAt(stored, 0);
        QVERIFY2(k >= 1 && k <= 30, qPrintable(stored));
        for (int g = 1; g <= 80 - n; ++g) {
            const int filler = groupAt(stored, g);
            QVERIFY2(filler >= 1 && filler <= 901, qPrintable(stored));
        }
        QCOMPARE(groupAt(stored, 81), n);
    }
}

void TestScramble::eightyHasNoFiller()
{
    QString password = randomPassword(80);
    const QString stored = ScrambleText(password);
    const int k = groupAt(stored, 0);
    // Group 2 is already the first chained code.
    QCOMPARE(groupAt(stored, 1), int(static_cast<unsigned char>(kKeyText[k - 1]) ^ password.at(0).unicode()));
    QCOMPARE(stored.right(3), QStringLiteral("080"));
}

void TestScramble::chainedCodes()
{
    // Codes are UTF-8 bytes, each chained to the byte before it; n counts bytes.
    QString password = QStringLiteral("aé");
    const QString stored = ScrambleText(password);
    const int k = groupAt(stored, 0);
    const int key = static_cast<unsigned char>(kKeyText[k - 1]);
    QCOMPARE(groupAt(stored, 78), key ^ 'a');
    QCOMPARE(groupAt(stored, 79), 'a' ^ 0xC3);
    QCOMPARE(groupAt(stored, 80), 0xC3 ^ 0xA9);
    QCOMPARE(groupAt(stored, 81), 3);
}

void TestScramble::fillerIsIgnored()
{
    QString password = QStringLiteral("secret");
    const QString stored = ScrambleText(password);
    for (int g = 1; g <= 80 - 6; ++g) {
        QString edited = stored;
        edited.replace(g * 3, 3, group(groupAt(stored, g) == 7 ? 8 : 7));
        QCOMPARE(UnscrambleText(edited), QStringLiteral("secret"));
    }
}

void TestScramble::twoScramblesDiffer()
{
    QString a = QStringLiteral("hunter2");
    QString b = a;
    const QString first = ScrambleText(a);
    const QString second = ScrambleText(b);
    QVERIFY(first != second);
    QCOMPARE(UnscrambleText(first), QStringLiteral("hunter2"));
    QCOMPARE(UnscrambleText(second), QStringLiteral("hunter2"));
}

void TestScramble::textRoundTrips_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("bytes");
    QTest::newRow("latin") << QStringLiteral("pässwörd") << 10;
    QTest::newRow("cyrillic") << QStringLiteral("пароль") << 12;
    QTest::newRow("emoji") << QStringLiteral("key🔑lock") << 11;
    QTest::newRow("cjk") << QStringLiteral("密码") << 6;
    QTest::newRow("80 bytes of ä keep the padded layout") << QString(40, QChar(0xE4)) << 80;
    QTest::newRow("82 bytes of ä are past it") << QString(41, QChar(0xE4)) << 82;
    QTest::newRow("999 bytes") << QString(333, QChar(0x20AC)) << 999;
    QTest::newRow("inner spaces kept") << QStringLiteral("a b  c") << 6;
    QTest::newRow("tab kept") << QStringLiteral("\tx\t") << 3;
    QTest::newRow("leading byte order mark kept") << QStringLiteral("\uFEFFx") << 4;
}

void TestScramble::textRoundTrips()
{
    QFETCH(QString, password);
    QFETCH(int, bytes);
    QString field = password;
    const QString stored = ScrambleText(field);
    QCOMPARE(stored.size(), bytes <= 80 ? 246 : 3 * (bytes + 2));
    QCOMPARE(stored.right(3).toInt(), bytes);
    QCOMPARE(UnscrambleText(stored), password);
}

void TestScramble::trimsCallersVariable_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("spaces only") << "    " << "";
    QTest::newRow("surrounding spaces") << "  Pass Word  " << "Pass Word";
}

void TestScramble::trimsCallersVariable()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    const QString stored = ScrambleText(typed);
    QCOMPARE(typed, kept);
    QCOMPARE(stored.isEmpty(), kept.isEmpty());
    QCOMPARE(UnscrambleText(stored), kept);
}

void TestScramble::tooLongIsNotStored()
{
    QString tooLong(1000, QLatin1Char('a'));
    QCOMPARE(ScrambleText(tooLong), QString());
}

void TestScramble::junkReadsEmpty_data()
{
    QTest::addColumn<QString>("stored");
    const QString good = handMade(5, "abc");
    QVERIFY(UnscrambleText(good) == QStringLiteral("abc"));

    QTest::newRow("empty") << QString();
    QTest::newRow("short") << QStringLiteral("12");
    QTest::newRow("one group") << QStringLiteral("005");
    QTest::newRow("not whole groups") << good.chopped(1);
    QTest::newRow("letters") << QStringLiteral("abc").repeated(82);
    QTest::newRow("letter in filler") << QString(good).replace(9, 1, QLatin1Char('x'));
    QTest::newRow("sign in a code") << QString(good).replace(240, 1, QLatin1Char('-'));
    QTest::newRow("key position 0") << QString(good).replace(0, 3, QStringLiteral("000"));
    QTest::newRow("key position 31") << QString(good).replace(0, 3, QStringLiteral("031"));
    QTest::newRow("length 0") << QString(good).replace(243, 3, QStringLiteral("000"));
    QTest::newRow("length 81 in 82 groups") << QString(good).replace(243, 3, QStringLiteral("081"));
    QTest::newRow("length 200 in 82 groups") << QString(good).replace(243, 3, QStringLiteral("200"));
    QTest::newRow("a group dropped") << good.left(240) + good.right(3);
    QTest::newRow("a group added") << good.left(3) + QStringLiteral("123") + good.mid(3);
    QTest::newRow("code over 255") << QString(good).replace(237, 3, QStringLiteral("999"));
    QTest::newRow("lone lead byte") << handMade(3, QByteArray("\xC3", 1));
    QTest::newRow("overlong slash") << handMade(3, QByteArray("\xC0\xAF", 2));
    QTest::newRow("encoded surrogate") << handMade(3, QByteArray("\xED\xA0\x80", 3));
    QTest::newRow("stray continuation") << handMade(3, QByteArray("a\x80", 2));
    QTest::newRow("spaces") << QString(246, QLatin1Char(' '));
}

void TestScramble::junkReadsEmpty()
{
    QFETCH(QString, stored);
    QCOMPARE(UnscrambleText(stored), QString());
}

QTEST_APPLESS_MAIN(TestScramble)
#include "tst_scramble.moc"
