// The address of a From value: the usual "Name <address>" forms are read
// without the parser, and everything they could be confused with must still
// come out as the parser reads it.
#include "SenderAddress.h"

#include <QTest>

class TestSenderAddress : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void address_data();
    void address();
};

void TestSenderAddress::address_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("expected");
    QTest::newRow("name and address") << "Anna Schmidt <anna.1@mail5.example.org>"
                                      << "anna.1@mail5.example.org";
    QTest::newRow("brackets alone") << "<news@shop.example>"
                                    << "news@shop.example";
    QTest::newRow("bounce address") << "Shop <bounce=4f+x_y-z@mail.shop.example>"
                                    << "bounce=4f+x_y-z@mail.shop.example";
    QTest::newRow("encoded name") << "=?UTF-8?B?SsO8cmdlbiBHcm/Dnw==?= <j@x.example>"
                                  << "j@x.example";
    QTest::newRow("raw UTF-8 name") << QString::fromUtf8("Jürgen Groß <j@x.example>") << "j@x.example";
    QTest::newRow("quoted name with a comma") << "\"Schmidt, Anna\" <anna@x.example>"
                                              << "anna@x.example";
    QTest::newRow("comment before the address") << "Anna (work) <anna@x.example>"
                                                << "anna@x.example";
    QTest::newRow("two mailboxes: the first") << "Anna <a@b.example>, Ben <c@d.example>"
                                              << "a@b.example";
    QTest::newRow("two @ kept whole") << "Bank <a@bank.example@spam.example>"
                                      << "a@bank.example@spam.example";
    QTest::newRow("empty brackets") << "Nobody <>"
                                    << "";
    QTest::newRow("no domain") << "Nobody <local@>"
                               << "";
    // A NUL must not end the value early: what follows it still counts.
    const QChar nul(u'\0');
    QTest::newRow("NUL after an address, then the bracketed one")
        << QStringLiteral("boss@work.example") + nul + QStringLiteral(" <win@spam.example>") << "win@spam.example";
    QTest::newRow("NUL inside the brackets")
        << QStringLiteral("Friend <boss@work.example") + nul + QStringLiteral("@spam.example>")
        << "boss@work.example@spam.example";
    QTest::newRow("NUL at the end") << QStringLiteral("Boss <boss@work.example>") + nul << "boss@work.example";
}

void TestSenderAddress::address()
{
    QFETCH(QString, from);
    QTEST(SenderAddress(from), "expected");
}

QTEST_GUILESS_MAIN(TestSenderAddress)
#include "tst_senderaddress.moc"
