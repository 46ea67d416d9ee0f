// The texts of dial-up result codes.

#include "Dialer.h"

#include <QTest>

class TestRasErrorText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void text_data();
    void text();
};

void TestRasErrorText::text_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");

    const QList<std::pair<int, const char *>> table = {
        {601, "601: Invalid Port Handle"},       {602, "602: Port Already Open"},
        {606, "606: Port Not Connected"},        {615, "615: Port Not Found"},
        {621, "621: Cannot Open Phonebook"},     {622, "622: Cannot Load Phonebook"},
        {623, "623: Cannot Find Phonebook Entry"}, {625, "625: Corrupt Phonebook"},
        {629, "629: Remote Disconnection"},      {630, "630: Modem not responding"},
        {633, "633: Port Not Available"},        {636, "636: Wrong Device Attached"},
        {638, "638: Request Timeout"},           {646, "646: Restricted Logon Hours"},
        {647, "647: Acct Disabled"},             {648, "648: Password Expired"},
        {649, "649: No Dialin Permission"},      {660, "660: No Response"},
        {665, "665: Port Not Configured"},       {666, "666: Device Not Ready"},
        {676, "676: Line Busy"},                 {677, "677: Voice Answer"},
        {678, "678: No Answer"},                 {679, "679: No Carrier"},
        {680, "680: No Dialtone"},               {691, "691: Authentication Failure"},
        {708, "708: Acctount Expired"},          {739, "739: Cannot Use Logon Credentials"},
        {743, "743: Remote Requires Encryption"},
        // This system's own line: NetworkManager is not on the bus.
        {711, "711: NetworkManager Not Available"},
        // Codes without a line of their own, some between listed ones.
        {624, "624: Unable To Connect"},         {600, "600: Unable To Connect"},
        {631, "631: Unable To Connect"},         {632, "632: Unable To Connect"},
        {651, "651: Unable To Connect"},         {744, "744: Unable To Connect"},
        {0, "0: Unable To Connect"},             {2147483647, "2147483647: Unable To Connect"},
    };
    for (const auto &[code, text] : table)
        QTest::newRow(text) << code << QString::fromLatin1(text);
}

void TestRasErrorText::text()
{
    QFETCH(int, code);
    QFETCH(QString, expected);
    QCOMPARE(RasErrorText(code), expected);
}

QTEST_GUILESS_MAIN(TestRasErrorText)
#include "tst_raserrortext.moc"
