#include "ImapCommands.h"
#include "ImapParser.h"

#include <QRandomGenerator>

#include <algorithm>
#include <QTest>

// IMAP responses as they come off the wire, whole, a byte at a time and in
// odd pieces; and what a hostile server sends, which must end in an error,
// never in a wrong response or unbounded memory.
class TestImapParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void valid_data();
    void valid();
    void hostile_data();
    void hostile();
    void overBound_data();
    void overBound();
    void randomStreams();
    void uidSets_data();
    void uidSets();
};

namespace {

QByteArray render(const ImapValue &v)
{
    switch (v.kind) {
    case ImapValue::Kind::Atom:
        return v.text;
    case ImapValue::Kind::Nil:
        return "NIL";
    case ImapValue::Kind::String: {
        QByteArray text = v.text;
        text.replace("\r\n", "|");
        return '"' + text + '"';
    }
    case ImapValue::Kind::List: {
        QByteArrayList items;
        for (const ImapValue &item : v.items)
            items << render(item);
        return '(' + items.join(' ') + ')';
    }
    }
    return {};
}

// One line per response: "T a1 OK [CODE args] text", "U 3 EXISTS",
// "U FETCH (UID 5)", "C text".
QByteArray render(const ImapResponse &r)
{
    QByteArray out = r.kind == ImapResponse::Kind::Tagged ? "T " + r.tag
        : r.kind == ImapResponse::Kind::Untagged          ? QByteArray("U")
                                                          : QByteArray("C");
    if (r.number >= 0)
        out += ' ' + QByteArray::number(r.number);
    if (!r.keyword.isEmpty())
        out += ' ' + r.keyword;
    if (!r.code.isEmpty())
        out += " [" + r.code + (r.codeArguments.isEmpty() ? "" : ' ' + r.codeArguments) + ']';
    for (const ImapValue &v : r.values)
        out += ' ' + render(v);
    if (!r.text.isEmpty())
        out += ' ' + r.text;
    return out;
}

struct Framed {
    QByteArrayList responses;
    QByteArray error; // "too large", or the parser's complaint
    qsizetype longest = 0; // the longest response framed
    qsizetype mostHeld = 0; // the most bytes held at once
};

// Frames and parses `stream` as it arrives in pieces of `piece` bytes, as
// the session does.
Framed frameAll(const QByteArray &stream, qsizetype piece, const ImapLimits &limits)
{
    Framed out;
    ImapFramer framer(limits);
    QByteArray buffer;
    for (qsizetype at = 0; at < stream.size() && out.error.isEmpty(); at += piece) {
        buffer += stream.mid(at, piece);
        out.mostHeld = qMax(out.mostHeld, buffer.size());
        const ImapFramer::End end = framer.frame(buffer, [&](const ImapFramed &framed) {
            QString why;
            const auto response = parseImapResponse(framed, limits, &why);
            out.longest = qMax(out.longest, framed.length);
            if (!response)
                out.error = why.toLatin1();
            else
                out.responses << render(*response);
            return response.has_value();
        });
        if (end == ImapFramer::End::TooLarge)
            out.error = "too large";
    }
    if (out.error.isEmpty() && !buffer.isEmpty())
        out.error = "incomplete";
    return out;
}

ImapLimits smallLimits()
{
    ImapLimits limits;
    limits.lineBytes = 200;
    limits.literalBytes = 100;
    limits.responseBytes = 400;
    limits.depth = 4;
    return limits;
}

// A random value as the server sends it (`wire`) and as render() shows it.
void randomValue(QRandomGenerator &rng, int depth, QByteArray &wire, QByteArray &shown)
{
    static const QByteArray kAtomChars = "ABCXYZ0189.\\-";
    static const QByteArray kTextChars = "ab \"\\()[]{}\xe9\xff+*%";
    const int kind = int(rng.bounded(depth < 3 ? 5 : 4));
    QByteArray text;
    const int length = int(rng.bounded(kind == 0 ? 1 : 0, 12));
    for (int i = 0; i < length; ++i)
        text +=
            (kind == 0 ? kAtomChars : kTextChars).at(rng.bounded(kind == 0 ? kAtomChars.size() : kTextChars.size()));
    switch (kind) {
    case 0:
        wire += text;
        shown += text;
        return;
    case 1: // quoted, escaped
        wire += '"' + QByteArray(text).replace("\\", "\\\\").replace("\"", "\\\"") + '"';
        shown += '"' + text + '"';
        return;
    case 2: // literal, CR LF inside
        text += "\r\n" + text;
        wire += '{' + QByteArray::number(text.size()) + "}\r\n" + text;
        shown += '"' + QByteArray(text).replace("\r\n", "|") + '"';
        return;
    case 3:
        wire += "NIL";
        shown += "NIL";
        return;
    default: {
        wire += '(';
        shown += '(';
        const int items = int(rng.bounded(4));
        for (int i = 0; i < items; ++i) {
            if (i > 0) {
                wire += ' ';
                shown += ' ';
            }
            randomValue(rng, depth + 1, wire, shown);
        }
        wire += ')';
        shown += ')';
    }
    }
}

} // namespace

void TestImapParser::valid_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArrayList>("expected");

    QTest::newRow("greeting with capabilities")
        << QByteArray("* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN] Server ready\r\n")
        << QByteArrayList{"U OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN] Server ready"};
    QTest::newRow("examine") << QByteArray("* 3 EXISTS\r\n* OK [UIDVALIDITY 3857529045] UIDs valid\r\n"
                                           "a2 OK [READ-ONLY] EXAMINE completed\r\n")
                             << QByteArrayList{"U 3 EXISTS", "U OK [UIDVALIDITY 3857529045] UIDs valid",
                                               "T a2 OK [READ-ONLY] EXAMINE completed"};
    QTest::newRow("status words in any case, lone LF")
        << QByteArray("a1 no [trycreate] Mailbox doesn't exist\n* bye Logging out\r\n")
        << QByteArrayList{"T a1 NO [TRYCREATE] Mailbox doesn't exist", "U BYE Logging out"};
    QTest::newRow("continuation") << QByteArray("+ \r\n+ eyJzdGF0dXMiOiI0MDEifQ==\r\n")
                                  << QByteArrayList{"C", "C eyJzdGF0dXMiOiI0MDEifQ=="};
    QTest::newRow("header literal") << QByteArray("* 2 FETCH (UID 7 RFC822.SIZE 2000 BODY[HEADER] {19}\r\n"
                                                  "From: a@b\r\nX: y\r\n\r\n)\r\n")
                                    << QByteArrayList{"U 2 FETCH (UID 7 RFC822.SIZE 2000 BODY[HEADER] "
                                                      "\"From: a@b|X: y||\")"};
    QTest::newRow("literal that looks like a response")
        << QByteArray("* 1 FETCH (BODY[HEADER] {14}\r\na1 OK done\r\n\r\n UID 4)\r\n")
        << QByteArrayList{"U 1 FETCH (BODY[HEADER] \"a1 OK done||\" UID 4)"};
    QTest::newRow("empty, binary-safe and non-synchronising literals")
        << QByteArray("* 1 FETCH (BODY[HEADER] {0}\r\n UID 1)\r\n* 2 FETCH (BODY[HEADER] ~{3}\r\nx\ty UID 2)\r\n"
                      "* 3 FETCH (BODY[HEADER] {2+}\r\nab)\r\n")
        << QByteArrayList{"U 1 FETCH (BODY[HEADER] \"\" UID 1)", "U 2 FETCH (BODY[HEADER] \"x\ty\" UID 2)",
                          "U 3 FETCH (BODY[HEADER] \"ab\")"};
    QTest::newRow("quoted strings, escapes, 8-bit, NIL")
        << QByteArray("* LIST (\\HasNoChildren \\Junk) \"/\" \"Spam \\\"x\\\" \\\\ \xc3\xa9\"\r\n"
                      "* 4 FETCH (BODY[HEADER] NIL UID 9)\r\n")
        << QByteArrayList{"U LIST (\\HasNoChildren \\Junk) \"/\" \"Spam \"x\" \\ \xc3\xa9\"",
                          "U 4 FETCH (BODY[HEADER] NIL UID 9)"};
    QTest::newRow("nested lists and sections with spaces")
        << QByteArray("* 1 FETCH (FLAGS (\\Seen) BODY[HEADER.FIELDS (FROM TO)] {3}\r\nabc ENVELOPE "
                      "(NIL \"s\" ((\"n\" NIL \"a\" \"b\"))))\r\n")
        << QByteArrayList{"U 1 FETCH (FLAGS (\\Seen) BODY[HEADER.FIELDS (FROM TO)] \"abc\" ENVELOPE "
                          "(NIL \"s\" ((\"n\" NIL \"a\" \"b\"))))"};
}

void TestImapParser::valid()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArrayList, expected);
    for (const qsizetype piece : {stream.size(), qsizetype(1), qsizetype(7)}) {
        const Framed framed = frameAll(stream, piece, ImapLimits{});
        QVERIFY2(framed.error.isEmpty(), framed.error.constData());
        QCOMPARE(framed.responses, expected);
    }
}

void TestImapParser::hostile_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<int>("parsedBefore");

    // A literal past the bound is refused as soon as it is announced, long
    // before its bytes would fill memory.
    QTest::newRow("endless literal") << QByteArray("* 1 FETCH (BODY[HEADER] {4000000000}\r\nFrom: x\r\n")
                                     << QByteArray("too large") << 0;
    QTest::newRow("literals adding up past the response bound")
        << QByteArray("* 1 FETCH (A {100}\r\n" + QByteArray(100, 'x') + " B {100}\r\n" + QByteArray(100, 'x')
                      + " C {100}\r\n" + QByteArray(100, 'x') + " D {100}\r\n")
        << QByteArray("too large") << 0;
    QTest::newRow("cut literals adding up past the response bound")
        << QByteArray("* 1 FETCH (UID 1)\r\n* 2 FETCH (A {150}\r\n" + QByteArray(150, 'x') + " B {150}\r\n"
                      + QByteArray(150, 'x') + " C {150}\r\n")
        << QByteArray("too large") << 1;
    QTest::newRow("line without end") << QByteArray("* OK " + QByteArray(300, 'a')) << QByteArray("too large") << 0;
    QTest::newRow("unbalanced open") << QByteArray("* 1 EXISTS\r\n* 1 FETCH (UID 1 FLAGS (\\Seen)\r\n")
                                     << QByteArray("a list without its closing parenthesis") << 1;
    QTest::newRow("unbalanced close") << QByteArray("* 1 FETCH (UID 1))\r\n")
                                      << QByteArray("a closing parenthesis without its list") << 0;
    QTest::newRow("nested too deep") << QByteArray("* 1 FETCH (((((x)))))\r\n") << QByteArray("lists nested too deep")
                                     << 0;
    QTest::newRow("quoted string without end")
        << QByteArray("* LIST () \"/\" \"Junk\r\n") << QByteArray("a quoted string without its end") << 0;
    QTest::newRow("bad escape") << QByteArray("* LIST () \"/\" \"a\\nb\"\r\n")
                                << QByteArray("a bad escape in a quoted string") << 0;
    QTest::newRow("tagged data") << QByteArray("a1 FETCH (UID 1)\r\n")
                                 << QByteArray("a tagged response that is no status") << 0;
}

void TestImapParser::hostile()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, error);
    QFETCH(int, parsedBefore);
    for (const qsizetype piece : {stream.size(), qsizetype(1), qsizetype(5)}) {
        const Framed framed = frameAll(stream, piece, smallLimits());
        QCOMPARE(framed.error, error);
        QCOMPARE(framed.responses.size(), parsedBefore);
    }
}

// A literal past its bound (a header of 300 KB, say) keeps its first part
// and the responses after it are read as usual, while the bytes past the
// bound are never held.
void TestImapParser::overBound_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<int>("dropped"); // bytes past the bound

    const QByteArray head = "From: a@b\r\n" + QByteArray(89, 'h'); // as long as the bound
    const QByteArray big = head + QByteArray(150, 't');
    QTest::newRow("header over the bound, then the next")
        << QByteArray("* 1 FETCH (UID 5 BODY[HEADER] {250}\r\n" + big
                      + " RFC822.SIZE 900)\r\n"
                        "* 2 FETCH (UID 6 BODY[HEADER] {3}\r\nabc)\r\na4 OK done\r\n")
        << QByteArrayList{"U 1 FETCH (UID 5 BODY[HEADER] \"" + QByteArray(head).replace("\r\n", "|")
                              + "\" RFC822.SIZE 900)",
                          "U 2 FETCH (UID 6 BODY[HEADER] \"abc\")", "T a4 OK done"}
        << 150;
    QTest::newRow("two literals over the bound in one response")
        << QByteArray("* 3 FETCH (A ~{160}\r\n" + big.left(160) + " B {101+}\r\n" + big.left(101) + ")\r\n")
        << QByteArrayList{"U 3 FETCH (A \"" + QByteArray(head).replace("\r\n", "|") + "\" B \""
                          + QByteArray(head).replace("\r\n", "|") + "\")"}
        << 61;
    QTest::newRow("exactly at the bound is whole")
        << QByteArray("* 4 FETCH (BODY[HEADER] {100}\r\n" + head + ")\r\n")
        << QByteArrayList{"U 4 FETCH (BODY[HEADER] \"" + QByteArray(head).replace("\r\n", "|") + "\")"} << 0;
}

void TestImapParser::overBound()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArrayList, expected);
    QFETCH(int, dropped);
    for (const qsizetype piece : {stream.size(), qsizetype(1), qsizetype(7), qsizetype(64)}) {
        const Framed framed = frameAll(stream, piece, smallLimits());
        QVERIFY2(framed.error.isEmpty(), framed.error.constData());
        QCOMPARE(framed.responses, expected);
        if (piece < stream.size()) // the dropped part never waited in memory
            QVERIFY2(framed.mostHeld <= stream.size() - dropped + piece,
                     QByteArray::number(framed.mostHeld).constData());
    }
}

// Random responses come out as they went in, however the stream is cut;
// damaged ones never make a response past the bounds, whatever they do.
void TestImapParser::randomStreams()
{
    QRandomGenerator rng(20261208);
    ImapLimits bounded;
    bounded.literalBytes = 40;
    bounded.lineBytes = 200;
    bounded.responseBytes = 300;
    for (int round = 0; round < 400; ++round) {
        QByteArray stream;
        QByteArrayList expected;
        for (int k = 1; k <= 4; ++k) {
            QByteArray wire = "* " + QByteArray::number(k) + " FETCH ",
                       shown = "U " + QByteArray::number(k) + " FETCH ";
            randomValue(rng, 0, wire, shown);
            stream += wire + "\r\n";
            expected << shown;
        }
        const qsizetype piece = 1 + rng.bounded(stream.size());
        const Framed framed = frameAll(stream, piece, ImapLimits{});
        QVERIFY2(framed.error.isEmpty(), stream.constData());
        QCOMPARE(framed.responses, expected);

        for (int flips = 0; flips < 4; ++flips)
            stream[rng.bounded(stream.size())] = "(){}\"\\\r\n 7~"[rng.bounded(11)];
        const Framed damaged = frameAll(stream + stream + stream, piece, bounded);
        QVERIFY(damaged.longest <= bounded.responseBytes);
        QVERIFY(damaged.mostHeld <= bounded.responseBytes + piece);
    }
}

// UIDs go out as runs, in as few sets as the length bound allows, each set
// within it unless one run alone is longer; every UID in exactly one set.
void TestImapParser::uidSets_data()
{
    QTest::addColumn<QList<quint32>>("uids");
    QTest::addColumn<qsizetype>("bound");
    QTest::addColumn<QByteArrayList>("sets");
    QList<quint32> gapped;
    for (quint32 u = 1; u <= 99; ++u)
        if (u <= 40 || u == 52 || u >= 60)
            gapped << u;
    std::reverse(gapped.begin(), gapped.end()); // any order, repeats dropped
    gapped << 52 << 7;
    QTest::newRow("runs in one set") << gapped << qsizetype(8000) << QByteArrayList{"1:40,52,60:99"};
    QTest::newRow("cut between runs") << gapped << qsizetype(8) << QByteArrayList{"1:40,52", "60:99"};
    QTest::newRow("a run longer than the bound")
        << QList<quint32>{4294967294u, 4294967295u, 3} << qsizetype(4) << QByteArrayList{"3", "4294967294:4294967295"};
    QTest::newRow("exactly at the bound") << QList<quint32>{1, 3, 5} << qsizetype(3) << QByteArrayList{"1,3", "5"};
    QTest::newRow("none") << QList<quint32>{} << qsizetype(8000) << QByteArrayList{};
}

void TestImapParser::uidSets()
{
    QFETCH(QList<quint32>, uids);
    QFETCH(qsizetype, bound);
    QFETCH(QByteArrayList, sets);
    const QList<ImapCommands::UidSetPart> parts = ImapCommands::uidSets(uids, bound);
    QByteArrayList made;
    QList<quint32> covered;
    for (const ImapCommands::UidSetPart &part : parts) {
        made << part.set;
        covered += part.uids;
        const ImapCommands::UidRuns runs = ImapCommands::parseUidSet(part.set);
        for (const quint32 uid : part.uids)
            QVERIFY(runs.contains(uid));
    }
    QCOMPARE(made, sets);
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    QCOMPARE(covered, uids);
}

QTEST_GUILESS_MAIN(TestImapParser)
#include "tst_imapparser.moc"
