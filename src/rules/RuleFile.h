#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class RuleDatabase;

// Rules as a plain UTF-8 text file, one a line: "filter <rule>" or
// "exempt <rule>"; lines starting with "#" and blank lines are skipped.
// A user can move rules between machines and edit them in bulk this way.
//
// A rule that a plain line cannot carry exactly (a control character such
// as a TAB, a blank at either end) is written "filter-escaped <rule>" or
// "exempt-escaped <rule>", where "\\" is a backslash, "\t" a TAB, "\n" and
// "\r" line breaks, "\s" a space and "\u{1F600}" any character by its code
// point. Plain lines are read exactly as before.
namespace RuleFile {

// A rule that is stored but does not do what it seems to (RuleCheck), by
// its line.
struct ImportWarning {
    int line = 0;
    QString text;
    QString reason;
};

struct ImportReport {
    int added = 0;
    int present = 0; // already in the list, or twice in the file (case ignored)
    int refused = 0;
    int firstRefusedLine = 0; // from 1; 0 when nothing was refused
    QString firstRefusedText;
    QString firstRefusedReason;
    int addedFilter = 0; // of `added`, to the filter list
    int addedExempted = 0; // of `added`, to the exempted list
    QList<ImportWarning> warnings; // imported all the same
};

// Reads the whole file first, then adds its new rules in one transaction:
// nothing is imported when the file cannot be read or the rules cannot be
// stored (std::nullopt, *error says why). Refused lines do not stop the rest.
std::optional<ImportReport> importRules(RuleDatabase &db, const QString &path, QString *error);

// Writes every rule of both lists, filter list first; the file is replaced
// only when it was written whole.
bool exportRules(const RuleDatabase &db, const QString &path, QString *error);

// The line that carries `rule` after `keyword`: plain when that is exact,
// else escaped.
QString lineFor(const QString &keyword, const QString &rule);

// "3 rules added, 1 already present, 1 refused (line 7: ...)", then the
// warnings, each with its line (the first ten and how many more).
QString reportText(const ImportReport &report);
// The same as lines: the summary, then a line for each warning (all of them
// when `shownWarnings` is negative), so that no rule's text can break one.
QStringList reportLines(const ImportReport &report, qsizetype shownWarnings = -1);

} // namespace RuleFile
