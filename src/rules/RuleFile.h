#pragma once

#include <QString>
#include <optional>

class RuleDatabase;

// Rules as a plain UTF-8 text file, one a line: "filter <rule>" or
// "exempt <rule>"; lines starting with "#" and blank lines are skipped.
// A user can move rules between machines and edit them in bulk this way.
namespace RuleFile {

struct ImportReport {
    int added = 0;
    int present = 0; // already in the list, or twice in the file (case ignored)
    int refused = 0;
    int firstRefusedLine = 0; // from 1; 0 when nothing was refused
    QString firstRefusedText;
    QString firstRefusedReason;
    int addedFilter = 0;   // of `added`, to the filter list
    int addedExempted = 0; // of `added`, to the exempted list
};

// Reads the whole file first, then adds its new rules in one transaction:
// nothing is imported when the file cannot be read or the rules cannot be
// stored (std::nullopt, *error says why). Refused lines do not stop the rest.
std::optional<ImportReport> importRules(RuleDatabase &db, const QString &path, QString *error);

// Writes every rule of both lists, filter list first; the file is replaced
// only when it was written whole.
bool exportRules(const RuleDatabase &db, const QString &path, QString *error);

// "3 rules added, 1 already present, 1 refused (line 7: ...)".
QString reportText(const ImportReport &report);

} // namespace RuleFile
