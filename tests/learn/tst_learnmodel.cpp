// The learned classifier's arithmetic on sets small enough to work out by
// hand, and the tokens a header gives, hostile headers among them.
#include "HeaderTokens.h"
#include "LearnModel.h"
#include "LearnReasons.h"
#include "TokenText.h"

#include <QtTest>
#include <cmath>

namespace {

TokenList tokens(std::initializer_list<const char *> texts)
{
    TokenList list;
    for (const char *text : texts)
        list.add("t", text);
    list.finish();
    return list;
}

LearnModel::Params params(double strength = 0.1)
{
    LearnModel::Params p;
    p.strength = strength;
    p.minDeviation = 0; // every token speaks: the sums below count them all
    p.maxTokens = 150;
    p.minLessons = 1;
    return p;
}

} // namespace

class TestLearnModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void smoothedProbability_data()
    {
        QTest::addColumn<int>("spamSeen");
        QTest::addColumn<int>("hamSeen");
        QTest::addColumn<double>("expected");
        // Two spam and four good messages learned; f = (s * 0.5 + n * p) / (s + n), s = 0.1.
        QTest::newRow("only in spam") << 2 << 0 << (0.05 + 2 * 1.0) / 2.1;
        QTest::newRow("only in good mail") << 0 << 4 << 0.05 / 4.1;
        // p = (1/2) / (1/2 + 2/4) = 0.5: the ratios, not the counts, compare.
        QTest::newRow("as often in each") << 1 << 2 << 0.5;
        QTest::newRow("once in spam") << 1 << 0 << (0.05 + 1.0) / 1.1;
    }
    void smoothedProbability()
    {
        QFETCH(int, spamSeen);
        QFETCH(int, hamSeen);
        QFETCH(double, expected);
        LearnModel model(params());
        model.setTotals(2, 4);
        QVERIFY(qAbs(model.probability({quint32(spamSeen), quint32(hamSeen), 0}) - expected) < 1e-9);
    }

    // One token: Fisher's combining gives back its own probability
    // (chi2Q(-2 ln f, 2) = f). No known token: 0.5.
    void combiningOneTokenGivesItsProbability()
    {
        LearnModel model(params());
        for (int i = 0; i < 9; ++i)
            model.learn(tokens({"common"}), true, 0);
        model.learn(tokens({"common", "rare"}), false, 0);
        const double f = model.probability(model.tokens().value(TokenList::idOf("t:rare")));
        QVERIFY(qAbs(model.countsScore(tokens({"rare"})) - f) < 1e-9);
        QCOMPARE(model.countsScore(tokens({"never-seen"})), 0.5);
        // Spam tokens on both sides of the scale cancel out.
        model.learn(tokens({"spammy"}), true, 0);
        model.learn(tokens({"hammy"}), false, 0);
        QVERIFY(qAbs(model.countsScore(tokens({"spammy", "hammy"})) - 0.5) < 1e-9);
        QVERIFY(model.countsScore(tokens({"spammy"})) > 0.9);
        QVERIFY(model.countsScore(tokens({"hammy"})) < 0.1);
    }

    // Two tokens: chi2Q(x, 4) = e^(-x/2) (1 + x/2), so the ham side is
    // H = f1 f2 (1 - ln(f1 f2)), the spam side S the same of 1 - f, and the
    // score (1 + H - S) / 2; its log odds must match it, and keep ordering
    // messages whose scores have rounded to exactly 1.
    void combiningTwoTokensAndLogOdds()
    {
        LearnModel model(params());
        for (int i = 0; i < 3; ++i)
            model.learn(tokens({"offer", "free"}), true, 0);
        model.learn(tokens({"offer", "lunch"}), false, 0);
        model.learn(tokens({"lunch"}), false, 0);
        const double f1 = model.probability(model.tokens().value(TokenList::idOf("t:offer")));
        const double f2 = model.probability(model.tokens().value(TokenList::idOf("t:free")));
        const double h = f1 * f2 * (1 - std::log(f1 * f2));
        const double s = (1 - f1) * (1 - f2) * (1 - std::log((1 - f1) * (1 - f2)));
        const double expected = (1 + h - s) / 2;
        QVERIFY(qAbs(model.countsScore(tokens({"offer", "free"})) - expected) < 1e-9);
        QVERIFY(qAbs(model.countsLogOdds(tokens({"offer", "free"})) - std::log(expected / (1 - expected))) < 1e-6);
        QCOMPARE(model.countsLogOdds(tokens({"never-seen"})), 0.0);

        QByteArrayList names;
        for (int i = 0; i < 40; ++i)
            names.append("spam" + QByteArray::number(i));
        auto spamWords = [&](int n) {
            TokenList list;
            for (int i = 0; i < n; ++i)
                list.add("t", names[i]);
            list.finish();
            return list;
        };
        for (int i = 0; i < 50; ++i)
            model.learn(spamWords(40), true, 0);
        QCOMPARE(model.countsScore(spamWords(30)), 1.0);
        QCOMPARE(model.countsScore(spamWords(40)), 1.0);
        QVERIFY(model.countsLogOdds(spamWords(40)) > model.countsLogOdds(spamWords(30)) + 10);
    }

    void verdictWaitsForEnoughOfBoth()
    {
        LearnModel::Params p = params();
        p.minLessons = 2;
        LearnModel model(p);
        model.learn(tokens({"cheap", "pills"}), true, 0);
        model.learn(tokens({"cheap", "pills"}), true, 0);
        model.learn(tokens({"meeting", "agenda"}), false, 0);
        QCOMPARE(model.verdict(tokens({"cheap", "pills"})).kind, LearnedVerdict::Kind::None);
        model.learn(tokens({"meeting", "agenda"}), false, 0);
        const LearnedVerdict verdict = model.verdict(tokens({"cheap", "pills", "unknown"}));
        QCOMPARE(verdict.kind, LearnedVerdict::Kind::Spam);
        QCOMPARE(verdict.text(), QStringLiteral("Learned: %1 % like your spam").arg(verdict.percent()));
        QCOMPARE(verdict.reasons.size(), 2); // only tokens that lean the verdict's way
        QVERIFY2(verdict.reasons[0].endsWith(QLatin1String("seen in 2 of your spam")), qPrintable(verdict.reasons[0]));
        QCOMPARE(model.verdict(tokens({"meeting", "agenda"})).kind, LearnedVerdict::Kind::Good);
        // A good-mail reason counts the good mail, though spam has the word too.
        model.learn(tokens({"meeting"}), true, 0);
        const LearnedVerdict good = model.verdict(tokens({"meeting", "agenda"}));
        QCOMPARE(good.reasons.size(), 2);
        for (const QString &reason : good.reasons)
            QVERIFY2(reason.endsWith(QLatin1String("seen in 2 of your good mail")), qPrintable(reason));
        // A score that rounds to 100 below the cutoff is not shown as certain spam.
        QCOMPARE((LearnedVerdict{LearnedVerdict::Kind::Unsure, 0.996, {}}.percent()), 99);
        QCOMPARE((LearnedVerdict{LearnedVerdict::Kind::Spam, 0.998, {}}.percent()), 100);
    }

    // The weights: logistic regression's step, rate × (label - p), on every
    // token of the lesson; none once the message is beyond the margin; and a
    // lesson taken back takes back exactly its step.
    void weightsStepOnlyWhereWrongAndStepBackExactly()
    {
        LearnModel::Params p = params();
        p.weightRate = 0.2;
        p.weightMargin = 1.0;
        LearnModel model(p);
        const qint32 first = model.learn(tokens({"a", "b"}), true, 0); // no weights yet: p = 0.5
        QCOMPARE(first, qint32(std::lround(0.1 * LearnModel::kWeightUnit)));
        // Two tokens of 0.1 each: four times their sum over the root of two.
        QVERIFY(qAbs(model.weightsLogOdds(tokens({"a", "b"})) - 4 * 0.2 / std::sqrt(2.0)) < 1e-4);
        QVERIFY(qAbs(model.weightsLogOdds(tokens({"a", "unknown"})) - 4 * 0.1 / std::sqrt(2.0)) < 1e-4);
        int steps = 1;
        while (model.learn(tokens({"a", "b"}), true, 0) != 0)
            QVERIFY(++steps < 10);
        QVERIFY(model.weightsLogOdds(tokens({"a", "b"})) >= p.weightMargin);
        QCOMPARE(model.tokens().value(TokenList::idOf("t:a")).spam, quint32(steps + 1)); // the counts still count
        const auto before = model.tokens();
        const qint32 back = model.learn(tokens({"a", "c"}), false, 0);
        QVERIFY(back < 0);
        QVERIFY(model.tokens().value(TokenList::idOf("t:a")).weight < before.value(TokenList::idOf("t:a")).weight);
        model.unlearn(tokens({"a", "c"}), false, back);
        QCOMPARE(model.tokens(), before);
    }

    void unlearningRestoresTheCounts()
    {
        LearnModel model(params());
        model.learn(tokens({"a", "b"}), false, 0);
        const auto before = model.tokens().value(TokenList::idOf("t:a")).ham;
        const qint32 step = model.learn(tokens({"a", "c"}), true, 3);
        model.unlearn(tokens({"a", "c"}), true, step);
        QCOMPARE(model.spamMessages(), 0u);
        QCOMPARE(model.tokens().value(TokenList::idOf("t:a")).ham, before);
        QCOMPARE(model.tokens().value(TokenList::idOf("t:a")).spam, 0u);
        QVERIFY(!model.tokens().contains(TokenList::idOf("t:c")));
        model.unlearn(tokens({"never"}), true, 0); // nothing below zero
        QCOMPARE(model.spamMessages(), 0u);
    }

    // A loaded profile judges from a table laid out for lookups; it must say
    // what the counts say, and follow every lesson after it was laid out.
    void laidOutLookupsAgreeAndFollowLessons()
    {
        LearnModel::Params p = params(0.3);
        p.minDeviation = 0.2; // "both" stays near 0.5 and must not speak
        LearnModel model(p);
        model.learn(tokens({"cheap", "pills", "both"}), true, 0);
        model.learn(tokens({"cheap", "offer", "both"}), true, 0);
        model.learn(tokens({"agenda", "both"}), false, 0);
        model.learn(tokens({"agenda", "lunch", "both"}), false, 0);
        const TokenList message = tokens({"cheap", "both", "lunch", "unknown", "CHEAP"});
        QCOMPARE(message.size(), 4); // a repeat, in any case, counts once
        const LearnedVerdict byCounts = model.verdict(message);
        model.prepareLookups();
        const LearnedVerdict laidOut = model.verdict(message);
        QCOMPARE(laidOut.score, byCounts.score);
        QCOMPARE(laidOut.reasons, byCounts.reasons);
        QCOMPARE(laidOut.reasons.size(), 1); // "cheap"; "lunch" leans the other way, "both" not at all
        model.learn(tokens({"lunch", "pills"}), true, 0);
        LearnModel fresh = model; // the same counts, judged without a table
        fresh.setParams(p);
        QVERIFY(model.verdict(message).score > byCounts.score);
        QCOMPARE(model.verdict(message).score, fresh.verdict(message).score);
    }

    void reasonsInWords_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<bool>("spam");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a value in its phrase")
            << QByteArray("from.domain:hotmail.com") << true << u"sender domain hotmail.com seen in 14 of your spam"_qs;
        QTest::newRow("a phrase without the value")
            << QByteArray("fields:ab--e") << false << u"the same set of fields seen in 14 of your good mail"_qs;
        QTest::newRow("a check") << QByteArray("check:reply-without-reference") << true
                                 << u"a reply to nothing sent seen in 14 of your spam"_qs;
        QTest::newRow("a field without a phrase")
            << QByteArray("x-foo:bar") << true << u"x-foo field word bar seen in 14 of your spam"_qs;
        QTest::newRow("a field name cut where tokens end")
            << QByteArray("content-transfer-encodin:base64") << true
            << u"content-transfer-encodin\u2026 field word base64 seen in 14 of your spam"_qs;
        QTest::newRow("a field named like a tag of the tokenizer's own")
            << QByteArray("field.check:odd") << true << u"check field word odd seen in 14 of your spam"_qs;
        QTest::newRow("a field, with an article that fits any name")
            << QByteArray("field:in-reply-to") << false << u"the in-reply-to field seen in 14 of your good mail"_qs;
        QTest::newRow("a count that stands for more")
            << QByteArray("hops:8") << true << u"8 or more relays seen in 14 of your spam"_qs;
        QTest::newRow("a value that looks like a place holder")
            << QByteArray("from.user:a%1b%2") << false
            << u"sender address a%1b%2@\u2026 seen in 14 of your good mail"_qs;
    }
    void reasonsInWords()
    {
        QFETCH(QByteArray, token);
        QFETCH(bool, spam);
        QFETCH(QString, expected);
        QTest::failOnWarning(QRegularExpression(u".*"_qs)); // QString::arg with no place for its value
        QCOMPARE(LearnReasons::describe(token, 14, spam), expected);
    }

    // A tag the tokenizer makes up (it has a dot, no field name has) always
    // has words of its own: none reaches the user as a field's name.
    void everyMadeUpTagHasWords()
    {
        const QByteArray header =
            "Received: from mx.relay.example (mx.relay.example [192.0.2.7]) by in.home.example\r\n"
            "From: \"A B\" <a@mail.shop.example>\r\nTo: c@list.mail.example\r\n"
            "Cc: d@team.corp.example\r\nReply-To: e@x.other.example\r\n"
            "Return-Path: <f@bounce.far.example>\r\nMessage-ID: <1.2@id.shop.example>\r\n"
            "Subject: Big offer today\r\nX-Mailer: Sender 2.0\r\nCheck: odd\r\n"
            "Content-Type: multipart/mixed; boundary=\"--=_x_1\"\r\n"
            "Date: Mon, 1 Jan 2024 10:00:00 +0100\r\n\r\n";
        const TokenList tokens = HeaderTokens::of(header);
        QVERIFY(tokens.contains("to.domain.parent:mail.example"));
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            const QByteArrayView token = tokens.view(i);
            const QByteArrayView tag = token.first(std::max<qsizetype>(0, token.indexOf(':')));
            if (tag.contains('.') && !tag.startsWith("field."))
                QVERIFY2(!LearnReasons::describe(token, 1, true).contains(u" field word "), tokens.text(i).constData());
        }
    }

    void headerTokens_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArrayList>("present");
        QTest::addColumn<QByteArrayList>("absent");
        QTest::newRow("sender, parents, subject, folded LF")
            << QByteArray("From: \"Big Sale\" <deals@mail.shop.example>\nSubject: Cheap\n  watches\n\nbody: x\n")
            << QByteArrayList{"from.domain:mail.shop.example", "from.domain.parent:shop.example", "from.name:sale",
                              "subject:watches", "check:no-date"}
            << QByteArrayList{"field:body", "from.domain.parent:example"};
        QTest::newRow("CR LF the same, status line skipped")
            << QByteArray("+OK 120 octets\r\nFrom: deals@shop.example\r\nSubject: Cheap watches\r\n\r\n")
            << QByteArrayList{"from.domain:shop.example", "subject:cheap", "check:from-without-name"}
            << QByteArrayList{"field:+ok 120 octets"};
        QTest::newRow("another filter's opinion is not learned")
            << QByteArray("X-Spam-Status: Yes, score=9\nX-Virus-Scanned: clean\nSubject: hi\n\n")
            << QByteArrayList{"subject:hi"} << QByteArrayList{"field:x-spam-status", "w:yes", "w:clean"};
        QTest::newRow("CJK subject in pairs, encoded word charset")
            << QByteArray("Subject: =?utf-8?B?5YWN6LS55Y+R56Wo?=\n\n") // 免费发票
            << QByteArrayList{"subject:\xe5\x85\x8d\xe8\xb4\xb9", "subject:\xe5\x8f\x91\xe7\xa5\xa8", "encoded:utf-8"}
            << QByteArrayList{"subject:\xe5\x85\x8d\xe8\xb4\xb9\xe5\x8f\x91\xe7\xa5\xa8"};
        QTest::newRow("display name holding another address, foreign message id")
            << QByteArray("From: \"service@bank.example\" <x@spam.example>\nMessage-ID: <1.2@other.example>\n"
                          "Date: Fri, 02 Aug 2002 23:37:59 +0000\n"
                          "Received: from h (h [1.2.3.4]) by mx; Tue, 6 Aug 2002 11:48:09 +0100\n\n")
            << QByteArrayList{"check:name-holds-other-address", "check:message-id-elsewhere",
                              "check:date-long-before-arrival", "rcvd.net:1.2.3"}
            << QByteArrayList{"check:no-date"};
        QTest::newRow("relays say nothing; where the message entered does")
            << QByteArray("Received: from mx1 (localhost [127.0.0.1]) by mail.home.example; Tue, 6 Aug 2002 11:48:10 "
                          "+0100\nReceived: from mx1.home.example (mx1.home.example [5.6.7.8]) by mail.home.example; "
                          "Tue, 6 Aug 2002 11:48:09 +0100\nReceived: from bulk.example (dsl-9.cheap.example "
                          "[9.8.7.6]) by mx1; Tue, 6 Aug 2002 11:48:08 +0100\nReceived: from friend (unknown "
                          "[1.1.1.1]) by smtp.friend.example; Tue, 6 Aug 2002 11:40:00 +0100\n\n")
            << QByteArrayList{"rcvd1.net:9.8.7",         "rcvd1.net16:9.8",
                              "rcvd1.host:bulk.example", "check:first-hop-helo-not-its-name",
                              "rcvd.net:1.1.1",          "rcvd.relay:yes"}
            << QByteArrayList{"rcvd.net:5.6.7", "rcvd:mx1.home.example", "rcvd1.net:1.1.1", "w:mail.home.example",
                              "w:mx1"};
        QTest::newRow("a reply with no reference, shouting, padded, in pairs")
            << QByteArray("Subject: RE: FREE CASH NOW!!        4471\nTo: undisclosed-recipients:;\n\n")
            << QByteArrayList{"check:reply-without-reference", "check:subject-shouting",       "check:subject-bangs",
                              "check:subject-padded",          "check:subject-ends-in-number", "subject.pair:free cash",
                              "check:to-undisclosed"}
            << QByteArrayList{"check:in-a-thread", "subject.pair:re cash"};
        QTest::newRow("a reply in a thread")
            << QByteArray("Subject: Re: lunch plans\nIn-Reply-To: <a@b.example>\nMIME-Version: 1.0\n\n")
            << QByteArrayList{"check:in-a-thread", "subject.pair:lunch plans", "fields:--c-----------o-------"}
            << QByteArrayList{"check:reply-without-reference", "check:subject-shouting", "check:subject-bang"};
        QTest::newRow("a long address of two-byte letters, cut between them")
            << QByteArray("From: " + QByteArray("\xc3\xa9").repeated(40) + "@X.Example\n\n")
            << QByteArrayList{"from.domain:x.example"} << QByteArrayList{};
        QTest::newRow("the user's own delivery and fetching teach nothing")
            << QByteArray("Delivered-To: me@home.example\nX-Original-To: me@home.example\nDelivery-Date: Tue, 6 "
                          "Aug 2002\nReceived: from pop.isp.example [7.7.7.7] by localhost with POP3 (fetchmail-5.9.0) "
                          "for me@localhost (single-drop); Tue, 6 Aug 2002 11:48:09 +0100\nReceived: from "
                          "sender.example (sender.example [2.3.4.5]) by mx.isp.example with ESMTP id Q1 for "
                          "<me@home.example>; Tue, 6 Aug 2002 11:40:00 +0100\n\n")
            << QByteArrayList{"rcvd1.net:2.3.4", "rcvd1.host:sender.example", "w:sender.example"}
            << QByteArrayList{"field:delivered-to", "field:x-original-to", "field:delivery-date",
                              "w:home.example",     "rcvd.net:7.7.7",      "w:pop.isp.example",
                              "w:single-drop",      "w:mx.isp.example",    "w:localhost"};
        static const char withNul[] = "Subject: caf\xc3 \xff\xfe bad\0word\nFrom: a@b.example\n\n";
        QTest::newRow("signature blobs give nothing, their domains do")
            << QByteArray("DKIM-Signature: v=1; a=rsa-sha256; d=shop.example; s=s1;\n"
                          "\tbh=nqKLPw6JlHC9qAq94KLsOF7E7ceM82DnxZpn3d5xRm8=;\n"
                          "\tb=d0xY8C5+sKD9XYm5lLswaPUvHKm0W4vXQcoRhn3HlqFQVIIaLRocx5l3pBAHon/WzJ2hej8z\n"
                          "\t EJAFIY8o6JeCshuM+UC7L9HwivUWE7QOn3r5YZTEVTzU2qib6ifHHPtuHRec6/axYyVQIMDU\n"
                          "X-Note: x=ab+cd; see=us+them\n\n")
            << QByteArrayList{"dkim.d:shop.example", "dkim.s:s1", "x-note:cd", "w:them"}
            << QByteArrayList{"w:d0xy8c5", "dkim-signature:d0xy8c5", "w:rsa-sha256", "check:signed-by-sender"};
        QTest::newRow("who signed and what the checks on arrival found, not their words")
            << QByteArray("From: News <news@mail.shop.example>\n"
                          "ARC-Authentication-Results: i=1; mx.relay.example;\n dkim=pass header.d=relay.example;\n"
                          "Authentication-Results: mx.home.example; spf=softfail (home.example: 9.8.7.6 is not\n"
                          " permitted) smtp.mailfrom=shop.example; dkim=none; dmarc=fail (p=NONE) header.from=x\n"
                          "ARC-Seal: i=1; a=rsa-sha256; cv=none; d=relay.example; s=arc; b=AbCdEf0123456789==\n"
                          "DKIM-Signature: v=1; d=bulk.example; s=k1; b=AbCd\n"
                          "DKIM-Signature: v=1; d=Shop.Example; s=2024; b=EfGh\n\n")
            << QByteArrayList{"auth:spf=softfail",   "auth:dkim=none",        "auth:dmarc=fail",
                              "auth:dkim=pass",      "arc.d:relay.example",   "dkim.d:bulk.example",
                              "dkim.d:shop.example", "check:signed-by-sender"}
            << QByteArrayList{"auth:i=1",           "w:permitted",
                              "w:mx.home.example",  "authentication-results:spf",
                              "arc.d:shop.example", "check:signed-by-other"};
        QTest::newRow("hosts of one label and one length, a clock past its day")
            << QByteArray("Date: 1 Jan 2020 999999999:00:00 +0000\nReceived: from abc (abc [1.2.3.4]) by xyz; Tue, "
                          "6 Aug 2002 11:48:09 +0100\n\n")
            << QByteArrayList{"check:date-unreadable", "rcvd1.net:1.2.3"} << QByteArrayList{};
        QTest::newRow("fields named like the tokenizer's own tags forge none")
            << QByteArray("Check: in-a-thread\nDkim.D: paypal.com\nSubject: hi\n\n")
            << QByteArrayList{"field.check:in-a-thread", "field.dkim.d:paypal.com"}
            << QByteArrayList{"check:in-a-thread", "dkim.d:paypal.com"};
        QTest::newRow("a country's second level is no sender's domain")
            << QByteArray("From: a@mail.bank.co.uk\nMessage-ID: <1@evil.co.uk>\nReply-To: b@bank.co.uk\n\n")
            << QByteArrayList{"check:message-id-elsewhere"}
            << QByteArrayList{"check:message-id-from-sender", "check:reply-to-elsewhere"};
        QTest::newRow("=? in plain text is no encoded word; a later one still is")
            << QByteArray("Subject: What =? Price? =?koi8-r*ru?B?8PLJ18XU?=\n\n") << QByteArrayList{"encoded:koi8-r"}
            << QByteArrayList{"encoded: price", "encoded:koi8-r*ru"};
        QTest::newRow("a hop inside a private network is no entry")
            << QByteArray("Received: from worker1 (ip-172-20-1-1 [172.20.1.1]) by gw.example; Tue, 6 Aug 2002 "
                          "11:48:10 +0100\nReceived: from sender.example (sender.example [2.3.4.5]) by mx.example; "
                          "Tue, 6 Aug 2002 11:48:09 +0100\n\n")
            << QByteArrayList{"rcvd1.net:2.3.4", "rcvd.relay:yes"}
            << QByteArrayList{"rcvd1.net:172.20.1", "rcvd.net:172.20.1"};
        QTest::newRow("a post to a list; a date's zone, not its names")
            << QByteArray(
                   "To: Group <group@lists.example>, me@home.example\nReply-To: Group@Lists.Example\n"
                   "X-Arrived: 08 Aug 2002 22:06:12 (UTC) on Thu\nDate: Thu, 8 Aug 2002 09:45:04 -0700 (PDT)\n\n")
            << QByteArrayList{"check:reply-to-is-to", "w:utc", "date.zone:-0700"}
            << QByteArrayList{"w:aug", "x-arrived:thu", "date.zone:(pdt)"};
        QTest::newRow("answers wanted elsewhere than the list")
            << QByteArray("To: me@home.example\nReply-To: Me <me@home.example.net>\n\n") << QByteArrayList{}
            << QByteArrayList{"check:reply-to-is-to"};
        QTest::newRow("NUL and invalid UTF-8 in a subject")
            << QByteArray(withNul, sizeof(withNul) - 1) << QByteArrayList{"from.domain:b.example", "subject:bad"}
            << QByteArrayList{};
    }
    void headerTokens()
    {
        QFETCH(QByteArray, header);
        QFETCH(QByteArrayList, present);
        QFETCH(QByteArrayList, absent);
        const TokenList list = HeaderTokens::of(header);
        for (const QByteArray &text : present)
            QVERIFY2(list.contains(text), text.constData());
        for (const QByteArray &text : absent)
            QVERIFY2(!list.contains(text), text.constData());
        for (qsizetype i = 0; i < list.size(); ++i) {
            QVERIFY2(QUtf8StringView(list.text(i)).isValidUtf8(), list.text(i).constData()); // reasons show them
            // The id is the stored key: it must be the hash of the text, or old counts are lost.
            QCOMPARE(list.ids().at(i), TokenList::idOf(list.text(i)));
        }
    }

    // Plain ASCII is read straight from its bytes; it must give exactly the
    // words the general reading gives.
    void asciiWordsAsTheGeneralReading_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("ordinary subject") << QByteArray("Re: Your Invoice #4711 is ready");
        QTest::newRow("marks, apostrophes, dollars")
            << QByteArray("DON'T miss $$$ 100% FREE!!! a-b_c.d (x) [y] {z} ~@^&*=+");
        QTest::newRow("a word longer than kept") << QByteArray("Supercalifragilisticexpialidocious-and-more i a");
        static const char controls[] = "tab\there\x01x\0yz\x7f_end";
        QTest::newRow("control bytes and NUL") << QByteArray(controls, sizeof controls - 1);
    }
    void asciiWordsAsTheGeneralReading()
    {
        QFETCH(QByteArray, raw);
        QByteArrayList direct, general;
        QVERIFY(TokenText::asciiHumanWords(raw, [&](QByteArrayView w) { direct.append(w.toByteArray()); }));
        TokenText::humanWords(TokenText::decoded(raw), [&](QByteArrayView w) { general.append(w.toByteArray()); });
        QCOMPARE(direct, general);
        QVERIFY(!direct.isEmpty());
        QVERIFY(!TokenText::asciiHumanWords(raw + "\xc3\xa9", [](QByteArrayView) {}));
        QVERIFY(!TokenText::asciiHumanWords("=?utf-8?q?" + raw + "?=", [](QByteArrayView) {}));
    }

    // A header without an end, of 10 MB, with a line as long: read only so
    // far, and never more tokens than the bound.
    void hostileHeadersAreBounded()
    {
        // Many relays first, then padding: neither crowds out the checks.
        QByteArray huge = "Subject: x\n";
        for (int i = 0; i < 16; ++i) {
            const QByteArray n = QByteArray::number(i);
            huge += "Received: from h" + n + ".relay" + n + ".example (h" + n + " [9.9." + n + ".1] a" + n + " b" + n
                + " c" + n + " d" + n + " e" + n + " f" + n + " g" + n + ") by mx" + n
                + ".other.example; Tue, 6 Aug 2002 11:48:09 +0100\n";
        }
        for (int i = 0; huge.size() < 10 * 1024 * 1024; ++i)
            huge += "X-F" + QByteArray::number(i) + ": w" + QByteArray::number(i) + " v" + QByteArray::number(i) + "\n";
        QCOMPARE(HeaderTokens::headerEnd(huge), -1);
        const TokenList padded = HeaderTokens::of(huge);
        // The relays filled their room, and the checks came after them.
        QVERIFY(padded.size() > HeaderTokens::kMaxTokens - HeaderTokens::kRoomForChecks
                && padded.size() <= HeaderTokens::kMaxTokens);
        QVERIFY(padded.contains("rcvd1.net:9.9.0") && padded.contains("check:no-from") && padded.contains("hops:8"));
        const QByteArray line = "Subject: " + QByteArray(10 * 1024 * 1024, 'a');
        const TokenList one = HeaderTokens::of(line);
        for (qsizetype i = 0; i < one.size(); ++i)
            QVERIFY(one.text(i).size() <= HeaderTokens::kMaxTokenBytes);
    }
};

QTEST_GUILESS_MAIN(TestLearnModel)
#include "tst_learnmodel.moc"
