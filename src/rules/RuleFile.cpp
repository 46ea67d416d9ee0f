#include "RuleFile.h"

#include "FileCommit.h"
#include "RuleCollation.h"
#include "RuleDatabase.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <QStringList>

namespace RuleFile {

namespace {

const QString kFilter = QStringLiteral("filter");
const QString kExempt = QStringLiteral("exempt");

// The longest line a message header may hold: no rule needs more.
constexpr qsizetype kMaxRuleLength = 998;

QString trimmedBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text.at(begin) == u' ' || text.at(begin) == u'\t'))
        ++begin;
    while (end > begin && (text.at(end - 1) == u' ' || text.at(end - 1) == u'\t'))
        --end;
    return text.mid(begin, end - begin).toString();
}

bool hasControl(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029)
            return true;
    }
    return false;
}

struct Line {
    QString table; // empty when refused
    QString rule;
    QString reason;
};

Line readLine(const QString &text)
{
    qsizetype gap = 0;
    while (gap < text.size() && text.at(gap) != u' ' && text.at(gap) != u'\t')
        ++gap;
    const QString keyword = text.left(gap);
    const QString rule = trimmedBlanks(QStringView(text).mid(gap));
    if (keyword.compare(kFilter, Qt::CaseInsensitive) != 0 && keyword.compare(kExempt, Qt::CaseInsensitive) != 0)
        return {{}, rule, QStringLiteral("the line starts with neither \"filter\" nor \"exempt\"")};
    if (rule.isEmpty())
        return {{}, rule, QStringLiteral("no rule after \"%1\"").arg(keyword)};
    if (hasControl(rule))
        return {{}, rule, QStringLiteral("the rule holds a control character")};
    if (rule.size() > kMaxRuleLength)
        return {{}, rule, QStringLiteral("the rule is longer than %1 characters").arg(kMaxRuleLength)};
    const bool filter = keyword.compare(kFilter, Qt::CaseInsensitive) == 0;
    return {filter ? QStringLiteral("tbfilter") : QStringLiteral("tbexempted"), rule, {}};
}

} // namespace

std::optional<ImportReport> importRules(RuleDatabase &db, const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read \"%1\": %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read \"%1\": %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);

    ImportReport report;
    QStringList newFilter;
    QStringList newExempted;
    QSet<QString> seenFilter;
    QSet<QString> seenExempted;
    const auto refuse = [&report](int number, const QString &text, const QString &reason) {
        if (report.refused++ == 0) {
            report.firstRefusedLine = number;
            report.firstRefusedText = text;
            report.firstRefusedReason = reason;
        }
    };
    try {
        const QList<QByteArray> lines = bytes.split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const int number = int(i + 1);
            QByteArray raw = lines.at(i);
            if (raw.endsWith('\r'))
                raw.chop(1);
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString decoded = decoder.decode(raw);
            const QString text = trimmedBlanks(decoded);
            if (text.isEmpty() || text.startsWith(u'#'))
                continue;
            if (decoder.hasError()) {
                refuse(number, text, QStringLiteral("the line is not valid UTF-8"));
                continue;
            }
            const Line line = readLine(text);
            if (line.table.isEmpty()) {
                refuse(number, text, line.reason);
                continue;
            }
            const bool filter = line.table == QLatin1String("tbfilter");
            QSet<QString> &seen = filter ? seenFilter : seenExempted;
            const QString key = RuleCollation::key(line.rule);
            if (seen.contains(key) || db.IsInList(line.rule, line.table)) {
                ++report.present;
                continue;
            }
            seen.insert(key);
            (filter ? newFilter : newExempted).append(line.rule);
        }
    } catch (const RuleDatabaseError &e) {
        if (error)
            *error = QStringLiteral("The rule database could not be read: %1").arg(QString::fromUtf8(e.what()));
        return std::nullopt;
    }
    if ((!newFilter.isEmpty() || !newExempted.isEmpty()) && !db.InsertRuleSets(newFilter, newExempted)) {
        if (error)
            *error = QStringLiteral("The rules could not be stored in the rule database; none was imported.");
        return std::nullopt;
    }
    report.addedFilter = int(newFilter.size());
    report.addedExempted = int(newExempted.size());
    report.added = report.addedFilter + report.addedExempted;
    return report;
}

bool exportRules(const RuleDatabase &db, const QString &path, QString *error)
{
    const std::optional<QStringList> filter = db.FillRules(QStringLiteral("tbfilter"));
    const std::optional<QStringList> exempted = db.FillRules(QStringLiteral("tbexempted"));
    if (!filter || !exempted) {
        if (error)
            *error = QStringLiteral("The rule database could not be read.");
        return false;
    }
    QByteArray out("# Trelvik rules: \"filter\" or \"exempt\", a space, the rule; one rule a line.\n");
    const auto write = [&out, error](const QString &keyword, const QStringList &values) {
        for (const QString &value : values) {
            if (value.isEmpty())
                continue; // a rule of nothing matches nothing and cannot be read back
            if (value.contains(u'\n') || value.contains(u'\r')) {
                if (error)
                    *error = QStringLiteral("The rule \"%1\" holds a line break and cannot be written.").arg(value);
                return false;
            }
            out += keyword.toUtf8() + ' ' + value.toUtf8() + '\n';
        }
        return true;
    };
    if (!write(kFilter, *filter) || !write(kExempt, *exempted))
        return false;
    QString why;
    if (!FileCommit::write(path, out, FileCommit::Access::LikeTarget, &why)) {
        if (error)
            *error = QStringLiteral("Cannot write \"%1\": %2").arg(path, why);
        return false;
    }
    return true;
}

QString reportText(const ImportReport &report)
{
    const auto count = [](int n, const char *one, const char *many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QString text = count(report.added, "rule added", "rules added") + QStringLiteral(", ")
                   + QStringLiteral("%1 already present, %2 refused").arg(report.present).arg(report.refused);
    if (report.refused > 0)
        text += QStringLiteral(" (line %1: \"%2\": %3)")
                    .arg(report.firstRefusedLine)
                    .arg(report.firstRefusedText, report.firstRefusedReason);
    return text;
}

} // namespace RuleFile
