#include "HeaderFields.h"
#include "RealMailbox.h"
#include "RuleClassifier.h"
#include "RuleSyntax.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

// The benchmarks' real-sized mail: the sizes stay in the range their
// figures claim, and the rule lists sort out the spam and nothing else.
class TestRealMailbox : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void headersHaveRealSizesAndUniqueIds();
    void rulesSortOutExactlyTheSpam();
};

namespace {
constexpr int kSample = 2000;

QByteArray headerOf(const QByteArray &message)
{
    return message.left(message.indexOf("\r\n\r\n") + 4);
}
} // namespace

void TestRealMailbox::headersHaveRealSizesAndUniqueIds()
{
    RealMailbox::HeaderSizes sizes;
    QSet<QString> messageIds, names;
    const QRegularExpression messageId(QStringLiteral("\r\nMessage-ID: (<[^>\r\n]+>)\r\n"));
    for (int i = 1; i <= kSample; ++i) {
        const QByteArray m = RealMailbox::message(i);
        QVERIFY2(m.count('\n') == m.count("\r\n"), "every line ends in CR LF");
        sizes.add(headerOf(m).size());
        messageIds.insert(messageId.match(QString::fromLatin1(m)).captured(1));
        names.insert(RealMailbox::fileName(i));
    }
    QVERIFY(sizes.min >= 2048);
    QVERIFY(sizes.max <= 8192);
    QVERIFY2(qAbs(sizes.mean() - 5.35 * 1024) < 250, qPrintable(QString::number(sizes.mean())));
    QVERIFY(!messageIds.contains(QString()));
    QCOMPARE(messageIds.size(), kSample);
    QCOMPARE(names.size(), kSample);
    // The server numbers files by name: message order must survive it.
    QVERIFY(RealMailbox::fileName(99) < RealMailbox::fileName(100));
    // A message does not depend on which were made before it.
    QCOMPARE(RealMailbox::message(kSample + 1), RealMailbox::message(kSample + 1));
}

void TestRealMailbox::rulesSortOutExactlyTheSpam()
{
    const RuleClassifier rules = RuleClassifier::fromLists(RealMailbox::filterRules(), RealMailbox::exemptedRules());
    QSet<int> caughtBy; // RuleSyntax::Kind
    int exempted = 0;
    for (int i = 1; i <= kSample; ++i) {
        const QByteArray header = headerOf(RealMailbox::message(i));
        QString from;
        HeaderFields::forEach(header, [&](QByteArrayView name, QByteArrayView value) {
            if (name.compare("From", Qt::CaseInsensitive) == 0)
                from = QString::fromLatin1(value).trimmed();
        });
        const SortReason reason = rules.classify(from, header, header.size());
        QVERIFY2((reason.kind == SortReason::Kind::Filter) == RealMailbox::isSpam(i),
                 qPrintable(QStringLiteral("message %1 from %2: %3").arg(i).arg(from, reason.text())));
        if (reason.kind == SortReason::Kind::Filter)
            caughtBy.insert(int(RuleSyntax::read(reason.rule).kind));
        exempted += reason.kind == SortReason::Kind::Exempted;
    }
    QCOMPARE(RealMailbox::spamCount(kSample), kSample / 10);
    // Every kind of rule a user writes takes its share; exact values count
    // once, whether an address or a whole From value.
    using Kind = RuleSyntax::Kind;
    QCOMPARE(caughtBy, (QSet<int>{int(Kind::Exact), int(Kind::Domain), int(Kind::AddressPattern), int(Kind::Header)}));
    QCOMPARE(exempted, kSample / 250);
}

QTEST_GUILESS_MAIN(TestRealMailbox)
#include "tst_realmailbox.moc"
