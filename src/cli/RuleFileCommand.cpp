#include "RuleFileCommand.h"

#include "ConsoleOutput.h"
#include "ExitCode.h"
#include "RuleFile.h"


namespace RuleFileCommand {

int importRules(const CommandLine::Options &options, RuleDatabase &rules)
{
    QString error;
    const auto report = RuleFile::importRules(rules, options.importFile, &error);
    if (!report) {
        ConsoleOutput::error(ConsoleOutput::plain(error));
        return ExitCode::Failure;
    }
    // Every warning on a line of its own, each naming its line of the file.
    for (const QString &line : RuleFile::reportLines(*report))
        ConsoleOutput::out(ConsoleOutput::plain(line));
    if (report->refused == 0)
        return ExitCode::Done;
    // The other lines are in; a script still learns that the file was not
    // taken whole.
    ConsoleOutput::error(ConsoleOutput::plain(QStringLiteral("Line %1 of \"%2\" was refused: %3")
                                                  .arg(report->firstRefusedLine)
                                                  .arg(options.importFile, report->firstRefusedReason)));
    return ExitCode::Failure;
}

int exportRules(const CommandLine::Options &options, const RuleDatabase &rules)
{
    QString error;
    if (!RuleFile::exportRules(rules, options.exportFile, &error)) {
        ConsoleOutput::error(ConsoleOutput::plain(error));
        return ExitCode::Failure;
    }
    if (!options.quiet)
        ConsoleOutput::out(
            QStringLiteral("The rules were written to \"%1\".").arg(ConsoleOutput::plain(options.exportFile)));
    return ExitCode::Done;
}

} // namespace RuleFileCommand
