// What the command line prints for a check: the lines (safe for a terminal
// whatever a server sends), the summary, the JSON document and the
// notification texts, before and after a deletion.
#include "CheckReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

MessageEntry entry(qint32 number, const QString &sender, const QString &subject = u"s"_s)
{
    MessageEntry e;
    e.number = number;
    e.uid = u"u%1"_s.arg(number);
    e.sender = sender;
    e.subject = subject;
    e.date = u"Mon, 7 Dec 2026 10:00:00 +0000"_s;
    e.size = u"    2K"_s;
    return e;
}

} // namespace

class TestCheckReport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linesAreInServerOrderAndPlain()
    {
        // An escape sequence and a line break in the subject must not reach
        // the terminal; an encoded word is shown decoded.
        const CheckReport report = CheckReport::fromFolders(
            u"Work"_s, {entry(2, u"=?UTF-8?B?SsO2cmc=?= <j@x.example>"_s, u"hi\x1b]0;owned\x07\r\nthere\tyou"_s)},
            {entry(1, u"spam@x.example"_s)});
        const QStringList lines = report.lines(false);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith(u"Recycle Bin\tspam@x.example\t"_s));
        const QStringList fields = lines.at(1).split(u'\t');
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields.at(0), u"Inbox"_s);
        QCOMPARE(fields.at(1), u"Jörg <j@x.example>"_s);
        for (const QChar c : lines.at(1))
            QVERIFY2(c == u'\t' || c.unicode() >= 0x20, "a control character reaches the terminal");
        QCOMPARE(fields.at(4), u"2K"_s);
        QCOMPARE(lines.at(2), u"Work: 2 messages, 1 in the Inbox, 1 in the Recycle Bin"_s);
        QCOMPARE(report.lines(true), QStringList{lines.at(2)});
    }

    void deletionOutcomes()
    {
        CheckReport report = CheckReport::fromFolders(
            u"Home"_s, {entry(1, u"a@x"_s)}, {entry(2, u"b@x"_s), entry(3, u"c@x"_s), entry(4, u"d@x"_s)});
        DeletionResult deletion;
        deletion.deleted = {entry(4, u"d@x"_s)};
        deletion.changed = 1;
        deletion.notDeleted = 1;
        report.listingNote = u"the server's listings disagree (STAT 5, LIST 4)"_s;
        report.applyDeletion(deletion, {entry(2, u"b@x"_s)}); // 3 was gone before the deletion
        QCOMPARE(report.lines(true).constLast(),
                 u"Home: 4 messages, 1 in the Inbox, 3 in the Recycle Bin; 1 deleted, 1 not deleted, 1 already gone "
                 "(1 changed on the server, not deleted); the server's listings disagree (STAT 5, LIST 4)"_s);
        const QJsonObject json = QJsonDocument::fromJson(report.json()).object();
        QStringList results;
        for (const QJsonValue &v : json.value(u"messages"_s).toArray())
            results << v.toObject().value(u"result"_s).toString();
        QCOMPARE(results, (QStringList{u"kept"_s, u"not deleted"_s, u"already gone"_s, u"deleted"_s}));
        QCOMPARE(json.value(u"deleted"_s).toInt(), 1);
        QCOMPARE(json.value(u"alreadyGone"_s).toInt(), 1);
        QCOMPARE(json.value(u"changedOnServer"_s).toInt(), 1);
        QCOMPARE(json.value(u"listingMismatch"_s).toString(), report.listingNote);
        QCOMPARE(report.notificationSummary(), u"Trelvik deleted 1 message from Home"_s);
        QCOMPARE(report.notificationBody(), u"2 messages are waiting."_s);
    }
};

QTEST_GUILESS_MAIN(TestCheckReport)
#include "tst_checkreport.moc"
