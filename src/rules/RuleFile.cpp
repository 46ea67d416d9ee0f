#include "RuleFile.h"

#include "DurableFile.h"
#include "RuleCheck.h"
#include "RuleCollation.h"
#include "RuleDatabase.h"
#include "StringHelpers.h"

#include <QFile>
#include <QSet>
#include <QStringList>

namespace RuleFile {

namespace {

const QString kFilter = QStringLiteral("filter");
const QString kExempt = QStringLiteral("exempt");
const QString kEscapedSuffix = QStringLiteral("-escaped");

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

bool isControl(char16_t u)
{
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

bool hasControl(const QString &text)
{
    for (const QChar c : text) {
        if (isControl(c.unicode()))
            return true;
    }
    return false;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Whether a plain line gives the rule back exactly.
bool plainCarries(const QString &rule)
{
    return !rule.isEmpty() && !isBlank(rule.front()) && !isBlank(rule.back()) && !hasControl(rule);
}

QString escaped(const QString &rule)
{
    QString out;
    out.reserve(rule.size() + 8);
    for (qsizetype i = 0; i < rule.size(); ++i) {
        const QChar c = rule.at(i);
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u' ' && (i == 0 || i == rule.size() - 1))
            out += QStringLiteral("\\s");
        else if (isControl(c.unicode()))
            out += QStringLiteral("\\u{%1}").arg(QString::number(c.unicode(), 16).toUpper());
        else
            out += c;
    }
    return out;
}

// The rule an escaped line carries; a null text when an escape is broken.
QString unescaped(QStringView text, QString *why)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++i >= text.size()) {
            *why = QStringLiteral("the line ends in a lone \"\\\"");
            return {};
        }
        switch (text.at(i).unicode()) {
        case '\\':
            out += u'\\';
            break;
        case 't':
            out += u'\t';
            break;
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 's':
            out += u' ';
            break;
        case 'u': {
            const qsizetype close = text.indexOf(u'}', i);
            bool ok = false;
            const uint cp = close > i + 2 && text.at(i + 1) == u'{' && close - i - 2 <= 6
                ? text.mid(i + 2, close - i - 2).toUInt(&ok, 16)
                : 0;
            if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0) {
                *why =
                    QStringLiteral("the escape at character %1 is not \"\\u{\" and a code point in hex \"}\"").arg(i);
                return {};
            }
            const char32_t point = cp;
            out += QString::fromUcs4(&point, 1);
            i = close;
            break;
        }
        default:
            *why = QStringLiteral("\"\\%1\" is no escape (\\\\ \\t \\n \\r \\s \\u{...})").arg(text.at(i));
            return {};
        }
    }
    return out;
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
    QString keyword = text.left(gap);
    const bool escapedForm = keyword.endsWith(kEscapedSuffix, Qt::CaseInsensitive);
    if (escapedForm)
        keyword.chop(kEscapedSuffix.size());
    QString rule = trimmedBlanks(QStringView(text).mid(gap));
    if (keyword.compare(kFilter, Qt::CaseInsensitive) != 0 && keyword.compare(kExempt, Qt::CaseInsensitive) != 0)
        return {{}, rule, QStringLiteral("the line starts with neither \"filter\" nor \"exempt\"")};
    if (rule.isEmpty())
        return {{}, rule, QStringLiteral("no rule after \"%1\"").arg(text.left(gap))};
    if (hasControl(rule))
        return {{}, rule, QStringLiteral("the rule holds a control character")};
    if (escapedForm) {
        QString why;
        rule = unescaped(rule, &why);
        if (rule.isNull())
            return {{}, text.mid(gap).trimmed(), why};
    }
    // No length is refused: a file gives back whatever a database holds.
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
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("Cannot read \"%1\": %2").arg(path, file.errorString());
        return std::nullopt;
    }

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
            // A byte-order mark before the keyword (files joined together);
            // one inside the rule is the rule's own.
            if (raw.startsWith("\xEF\xBB\xBF"))
                raw.remove(0, 3);
            // Checked whole: a decoder left with a broken sequence at the end
            // of the line would drop its last character without a word.
            const bool valid = QByteArrayView(raw).isValidUtf8();
            const QString text = trimmedBlanks(Utf8Text(raw));
            if (text.isEmpty() || text.startsWith(u'#'))
                continue;
            if (!valid) {
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
            const QString warning = RuleCheck::warning(line.rule);
            if (!warning.isEmpty())
                report.warnings.append({number, text, warning});
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
    QByteArray out("# Trelvik rules: \"filter\" or \"exempt\", a space, the rule; one rule a line.\n"
                   "# \"filter-escaped\" and \"exempt-escaped\" lines carry rules with TABs or outer blanks:\n"
                   "# \\t TAB, \\s space, \\n \\r line breaks, \\\\ backslash, \\u{hex} any character.\n");
    const auto write = [&out](const QString &keyword, const QStringList &values) {
        for (const QString &value : values) {
            if (value.isEmpty())
                continue; // a rule of nothing matches nothing and cannot be read back
            out += lineFor(keyword, value).toUtf8() + '\n';
        }
    };
    write(kFilter, *filter);
    write(kExempt, *exempted);
    QString why;
    if (!DurableFile::write(path, out, DurableFile::Access::LikeTarget, &why)) {
        if (error)
            *error = QStringLiteral("Cannot write \"%1\": %2").arg(path, why);
        return false;
    }
    return true;
}

QString lineFor(const QString &keyword, const QString &rule)
{
    if (plainCarries(rule))
        return keyword + u' ' + rule;
    return keyword + kEscapedSuffix + u' ' + escaped(rule);
}

QStringList reportLines(const ImportReport &report, qsizetype shownWarnings)
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
    if (report.warnings.isEmpty())
        return {text};
    // Each by its line, so that the user can mend the file; a long list is
    // cut, its count stays.
    text += report.warnings.size() == 1
        ? QStringLiteral("; 1 rule does not do what it seems to:")
        : QStringLiteral("; %1 rules do not do what they seem to:").arg(report.warnings.size());
    QStringList lines{text};
    for (qsizetype i = 0; i < report.warnings.size() && (shownWarnings < 0 || i < shownWarnings); ++i) {
        const ImportWarning &w = report.warnings.at(i);
        lines.append(QStringLiteral("line %1: \"%2\": %3").arg(w.line).arg(w.text, w.reason));
    }
    if (shownWarnings >= 0 && report.warnings.size() > shownWarnings)
        lines.append(QStringLiteral("(and %1 more)").arg(report.warnings.size() - shownWarnings));
    return lines;
}

QString reportText(const ImportReport &report)
{
    constexpr qsizetype kShown = 10;
    return reportLines(report, kShown).join(u'\n');
}

} // namespace RuleFile
