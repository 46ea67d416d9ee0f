#include "SieveCommand.h"

#include "ConsoleOutput.h"
#include "DurableFile.h"
#include "ExitCode.h"
#include "RuleDatabase.h"
#include "SieveScript.h"

#include <QCoreApplication>

namespace SieveCommand {

int exportScript(const QString &path, bool quiet, const RuleDatabase &rules)
{
    const std::optional<QStringList> filter = rules.FillRules(QStringLiteral("tbfilter"));
    const std::optional<QStringList> exempted = rules.FillRules(QStringLiteral("tbexempted"));
    if (!filter || !exempted) {
        ConsoleOutput::error(QStringLiteral("The rule database could not be read."));
        return ExitCode::Failure;
    }
    SieveScript::Options options;
    options.programVersion = QCoreApplication::applicationVersion();
    const SieveScript::Script script = SieveScript::generate(*filter, *exempted, options);
    if (script.text.isEmpty()) {
        ConsoleOutput::error(script.error);
        return ExitCode::Failure;
    }
    QString why;
    if (!DurableFile::write(path, script.text.toUtf8(), DurableFile::Access::LikeTarget, &why)) {
        ConsoleOutput::error(ConsoleOutput::plain(QStringLiteral("Cannot write \"%1\": %2").arg(path, why)));
        return ExitCode::Failure;
    }
    if (quiet)
        return ExitCode::Done;
    ConsoleOutput::out(ConsoleOutput::plain(QStringLiteral("The Sieve script was written to \"%1\": %2 of %3 rules.")
                                                .arg(path)
                                                .arg(script.exported)
                                                .arg(script.exported + script.leftOut.size())));
    if (!script.leftOut.isEmpty())
        ConsoleOutput::out(QStringLiteral("Left out, because the server's Sieve cannot find exactly what they find:"));
    for (const SieveScript::LeftOut &l : script.leftOut)
        ConsoleOutput::out(ConsoleOutput::plain(QStringLiteral("  %1\t%2\t%3").arg(l.list, l.rule, l.reason)));
    return ExitCode::Done;
}

} // namespace SieveCommand
