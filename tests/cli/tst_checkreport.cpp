// What the command line prints for a check: the lines (safe for a terminal
// whatever a server sends), the summary, the JSON document and the
// notification texts, before and after a deletion.
#include "CheckReport.h"
#include "CheckSummary.h"
#include "HeaderDisplay.h"
#include "JsonStreamWriter.h"
#include "MessageFolderModel.h"

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
    e.bytes = number == 3 ? -1 : 2345; // 3: the server listed no size
    return e;
}

// The text with each half of a surrogate pair that has no other half as
// U+FFFD: what a strict JSON reader accepts.
QString whole(const QString &text)
{
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out.at(i).isHighSurrogate() && i + 1 < out.size() && out.at(i + 1).isLowSurrogate())
            ++i;
        else if (out.at(i).isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

QString resultText(CheckReport::Result result)
{
    switch (result) {
    case CheckReport::Result::Kept:
        return u"kept"_s;
    case CheckReport::Result::Deleted:
        return u"deleted"_s;
    case CheckReport::Result::AlreadyGone:
        return u"already gone"_s;
    case CheckReport::Result::InRecycleBin:
        return u"to be deleted"_s;
    default:
        return u"not deleted"_s;
    }
}

} // namespace

class TestCheckReport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linesAreInServerOrderAndPlain()
    {
        // An escape sequence and a line break in the subject must not reach
        // the terminal; an encoded word is shown decoded.
        const CheckReport report = CheckReport::fromFolders(u"Work"_s,
                                                            {entry(2, u"=?UTF-8?B?SsO2cmc=?= <j@x.example>"_s,
                                                                   u"hi\x1b]0;owned\x07\r\nthere\tyou"_s)},
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
        CheckReport report = CheckReport::fromFolders(u"Home"_s, {entry(1, u"a@x"_s)},
                                                      {entry(2, u"b@x"_s), entry(3, u"c@x"_s), entry(4, u"d@x"_s)});
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

        // Told by the folders themselves, as the check tells it: the same.
        MessageFolderModel inbox, recycle;
        inbox.append(entry(1, u"a@x"_s));
        recycle.appendRows({entry(2, u"b@x"_s), entry(3, u"c@x"_s), entry(4, u"d@x"_s)});
        CheckReport fromModels = CheckReport::fromFolders(u"Home"_s, inbox, recycle);
        fromModels.listingNote = report.listingNote;
        recycle.removeAt(2);
        recycle.removeAt(1);
        fromModels.applyDeletion(deletion, recycle);
        QCOMPARE(fromModels.json(), report.json());
        QVERIFY(!json.contains(u"removal"_s));

        // An IMAP mailbox that moved them says so where POP3 says "deleted".
        deletion.action = u"moved to Junk"_s;
        report.applyDeletion(deletion, {entry(2, u"b@x"_s)});
        const QStringList moved = report.lines(false);
        QCOMPARE(moved.at(3).section(u'\t', 0, 0), u"Recycle Bin: moved to Junk"_s);
        QVERIFY2(moved.constLast().contains(u"; 1 moved to Junk, 1 not moved to Junk, 1 already gone (1 changed on the "
                                            "server, not moved to Junk)"_s),
                 qPrintable(moved.constLast()));
        const QJsonObject movedJson = QJsonDocument::fromJson(report.json()).object();
        QCOMPARE(movedJson.value(u"removal"_s).toString(), deletion.action);
        QCOMPARE(movedJson.value(u"deleted"_s).toInt(), 1);
    }

    void notificationAndExitCode_data()
    {
        // Per profile: its exit code, messages deleted and not deleted (-1:
        // it could not be checked at all), and the first error it printed;
        // a fourth number: its removals moved to Junk (1) or to Spam (2).
        QTest::addColumn<QList<QList<int>>>("profiles");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("summary"); // empty: no notification
        QTest::addColumn<QString>("body");
        QTest::newRow("nothing to tell") << QList<QList<int>>{{0, 0, 0}, {0, 0, 0}} << 0 << QString() << QString();
        QTest::newRow("routine deletion") << QList<QList<int>>{{0, 1, 0}} << 0 << u"Trelvik deleted 1 message from P0"_s
                                          << u"3 messages are waiting."_s;
        QTest::newRow("deletions from two")
            << QList<QList<int>>{{0, 1, 0}, {0, 2, 0}} << 0 << u"Trelvik deleted 3 messages from P0, P1"_s
            << u"6 messages are waiting."_s;
        QTest::newRow("moved, not deleted")
            << QList<QList<int>>{{0, 2, 0, 1}} << 0 << u"Trelvik moved 2 messages from P0 to Junk"_s
            << u"3 messages are waiting."_s;
        QTest::newRow("moves to two folders and a deletion")
            << QList<QList<int>>{{0, 1, 0, 1}, {0, 1, 0, 2}, {0, 1, 0}} << 0
            << u"Trelvik removed 3 messages from P0, P1, P2"_s << u"9 messages are waiting."_s;
        QTest::newRow("moved beside a failure")
            << QList<QList<int>>{{0, 1, 0, 2}, {4, -1, -1}} << 4 << u"Trelvik could not check P1"_s
            << u"P1: error 1\nMoved 1 message from P0 to Spam.\n3 messages are waiting."_s;
        QTest::newRow("not deleted") << QList<QList<int>>{{5, 1, 2}} << 5
                                     << u"Trelvik could not delete 2 messages from P0"_s
                                     << u"P0: 2 messages could not be deleted.\nDeleted 1 message from P0.\n"
                                        "5 messages are waiting."_s;
        QTest::newRow("login refused beside a deletion")
            << QList<QList<int>>{{0, 1, 0}, {4, -1, -1}} << 4 << u"Trelvik could not check P1"_s
            << u"P1: error 1\nDeleted 1 message from P0.\n3 messages are waiting."_s;
        // The worst code: a broken setting outranks a server that may answer next time.
        QTest::newRow("worst of three") << QList<QList<int>>{{4, -1, -1}, {3, -1, -1}, {5, 0, 1}} << 3
                                        << u"Trelvik could not check P0, P1"_s
                                        << u"P0: error 0\nP1: error 1\nP2: 1 message could not be deleted.\n"
                                           "4 messages are waiting."_s;
        QTest::newRow("a failure outranks them all")
            << QList<QList<int>>{{1, -1, -1}, {3, -1, -1}} << 1 << u"Trelvik could not check P0, P1"_s
            << u"P0: error 0\nP1: error 1"_s;
    }

    void notificationAndExitCode()
    {
        QFETCH(QList<QList<int>>, profiles);
        QFETCH(int, code);
        QFETCH(QString, summary);
        QFETCH(QString, body);
        CheckSummary run;
        for (int p = 0; p < profiles.size(); ++p) {
            const QList<int> &row = profiles.at(p);
            const QString name = u"P%1"_s.arg(p);
            if (row.at(1) < 0) {
                run.addFailed(name, row.at(0), u"error %1"_s.arg(p));
                continue;
            }
            // Three waiting in the Inbox, then the Recycle Bin's outcomes.
            QList<MessageEntry> recycle;
            for (int k = 0; k < row.at(1) + row.at(2); ++k)
                recycle << entry(10 + k, u"r@x"_s);
            CheckReport report =
                CheckReport::fromFolders(name, {entry(1, u"a@x"_s), entry(2, u"b@x"_s), entry(3, u"c@x"_s)}, recycle);
            DeletionResult deletion;
            deletion.deleted = recycle.mid(0, row.at(1));
            deletion.action = QStringList{QString(), u"moved to Junk"_s, u"moved to Spam"_s}.at(row.value(3));
            report.applyDeletion(deletion, recycle.mid(row.at(1)));
            run.addChecked(report, row.at(0), QString());
        }
        QCOMPARE(run.exitCode(), code);
        const auto notification = run.notification();
        QCOMPARE(notification.has_value(), !summary.isEmpty());
        if (notification) {
            QCOMPARE(notification->summary, summary);
            QCOMPARE(notification->body, body);
        }
    }

    void jsonIsWhatQtWrites_data()
    {
        // The document is written row by row; it must read byte for byte as
        // the QJsonDocument it replaces, whatever the texts hold, but for
        // half surrogate pairs.
        QTest::addColumn<QList<MessageEntry>>("inbox");
        QTest::addColumn<QList<MessageEntry>>("recycle");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("no messages") << QList<MessageEntry>{} << QList<MessageEntry>{} << false;
        QTest::newRow("no messages, deletion ran") << QList<MessageEntry>{} << QList<MessageEntry>{} << true;
        QTest::newRow("controls, quotes, backslashes")
            << QList<MessageEntry>{entry(1, u"\"Q\" \\ <q@x>\x01\x1f\x7f\b\f"_s, u"a\r\nb\tc\x1b[0m"_s)}
            << QList<MessageEntry>{entry(2, u"spam@x"_s)} << true;
        QTest::newRow("beyond ASCII") << QList<MessageEntry>{entry(3, u"Jörg ✉ 😀 <j@x>"_s, u"\u2028\u00a0é"_s)}
                                      << QList<MessageEntry>{} << false;
        // Half a surrogate pair cannot be UTF-8, and jq refuses the "\ud800"
        // Qt writes for it: U+FFFD instead. A pair split over two fields
        // stays two halves.
        QTest::newRow("lone surrogates")
            << QList<MessageEntry>{entry(4, QString(QChar(0xd83d)) + u"x"_s, u"y"_s + QChar(0xde00))}
            << QList<MessageEntry>{entry(5, QString(QChar(0xde00)) + QChar(0xd83d), u"z"_s)} << true;
        QTest::newRow("encoded word of half a pair, not yet deleted")
            << QList<MessageEntry>{} << QList<MessageEntry>{entry(6, u"=?UTF-16?B?ANg=?= <h@x>"_s)} << false;
    }

    void jsonIsWhatQtWrites()
    {
        QFETCH(QList<MessageEntry>, inbox);
        QFETCH(QList<MessageEntry>, recycle);
        QFETCH(bool, deleted);
        CheckReport report = CheckReport::fromFolders(u"Wörk \"1\""_s, inbox, recycle);
        if (deleted) {
            DeletionResult deletion;
            deletion.deleted = recycle.mid(0, 1);
            report.applyDeletion(deletion, QList<MessageEntry>());
        }
        QJsonArray list;
        for (const CheckReport::Message &m : report.messages) {
            list.append(QJsonObject{
                {u"number"_s, m.number},
                {u"uid"_s, m.uid},
                {u"folder"_s, m.result == CheckReport::Result::Kept ? u"Inbox"_s : u"Recycle Bin"_s},
                {u"result"_s, resultText(m.result)},
                {u"sender"_s, whole(HeaderDisplay::decodedText(m.sender))},
                {u"subject"_s, whole(HeaderDisplay::decodedText(m.subject))},
                {u"date"_s, m.date},
                {u"size"_s, m.bytes < 0 ? QJsonValue() : QJsonValue(m.bytes)},
                {u"sizeShown"_s, m.size.trimmed()},
                {u"rule"_s, m.sortReason.text()},
            });
        }
        QJsonObject document{{u"profile"_s, report.profile},
                             {u"messages"_s, list},
                             {u"inbox"_s, report.count(CheckReport::Result::Kept)},
                             {u"recycleBin"_s, report.inRecycleBin()}};
        if (deleted) {
            document.insert(u"deleted"_s, report.count(CheckReport::Result::Deleted));
            document.insert(u"notDeleted"_s, report.count(CheckReport::Result::NotDeleted));
            document.insert(u"alreadyGone"_s, report.count(CheckReport::Result::AlreadyGone));
            document.insert(u"changedOnServer"_s, report.changedOnServer);
        }
        const QByteArray expected = QJsonDocument(document).toJson(QJsonDocument::Indented);
        QCOMPARE(report.json(), expected);

        // Written in pieces much smaller than a row, the bytes are the same.
        QByteArray pieces;
        int calls = 0;
        JsonStreamWriter w(
            [&](QByteArrayView piece) {
                pieces += piece;
                ++calls;
            },
            8);
        w.beginObject();
        w.key(u"a");
        w.beginArray();
        w.value(u"x"_s);
        w.value(qint64(-7));
        w.beginArray();
        w.endArray();
        w.endArray();
        w.field(u"s", report.profile);
        w.endObject();
        w.finish();
        QCOMPARE(pieces,
                 QJsonDocument(QJsonObject{{u"s"_s, report.profile}, {u"a"_s, QJsonArray{u"x"_s, -7, QJsonArray()}}})
                     .toJson(QJsonDocument::Indented));
        QVERIFY(calls > 1);
    }
};

QTEST_GUILESS_MAIN(TestCheckReport)
#include "tst_checkreport.moc"
