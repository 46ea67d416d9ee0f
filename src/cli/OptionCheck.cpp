// The checks the option table declares, and the Options they give.
#include "OptionTable.h"
#include "StringHelpers.h"

#include <QCommandLineParser>
#include <algorithm>

namespace OptionTable {

namespace {

// A day: a timer's run that needs longer is stuck, and the clock of
// --check counts milliseconds in an int.
constexpr int kMaxTimeoutSeconds = 86400;

QString nameOf(const Row &row)
{
    return QString::fromLatin1(row.name);
}

// The parser warns when asked for the value of an option that takes none.
QString valueOf(const QCommandLineParser &parser, const Row &row)
{
    return row.valueName ? parser.value(nameOf(row)) : QString();
}

// Whether any of the blank-separated option names was given.
bool anySet(const QCommandLineParser &parser, const char *names)
{
    const QStringList list = QString::fromLatin1(names).split(u' ', Qt::SkipEmptyParts);
    return std::any_of(list.cbegin(), list.cend(), [&parser](const QString &name) { return parser.isSet(name); });
}

// The seconds of --timeout, or 0 for anything but a whole number in range.
int seconds(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value >= 1 && value <= kMaxTimeoutSeconds ? value : 0;
}

// A fingerprint as the certificate code spells it: lower-case hex, with
// the colons and spaces people copy along dropped.
QString fingerprint(const QString &text)
{
    QString hex;
    for (const QChar c : text) {
        if (c != u':' && !c.isSpace())
            hex += c.toLower();
    }
    return hex;
}

bool isFingerprint(const QString &hex)
{
    return hex.size() == 64 && std::all_of(hex.cbegin(), hex.cend(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
           });
}

// Why an option's value is refused; empty when it is not.
QString valueProblem(const Row &row, const QString &value)
{
    switch (row.value) {
    case Value::None:
        break;
    case Value::FileName:
        if (value.isEmpty())
            return QStringLiteral("--%1 needs a file name.").arg(nameOf(row));
        break;
    case Value::ProfileName:
        if (TrimSpaces(value).isEmpty())
            return QStringLiteral("--%1 needs a profile name.").arg(nameOf(row));
        break;
    case Value::Seconds:
        if (seconds(value) == 0)
            return QStringLiteral("--%1 needs a whole number of seconds from 1 to %2, not \"%3\".")
                .arg(nameOf(row))
                .arg(kMaxTimeoutSeconds)
                .arg(value);
        break;
    case Value::Fingerprint:
        if (!isFingerprint(fingerprint(value)))
            return QStringLiteral("--%1 needs a SHA-256 fingerprint (64 hex digits), not \"%2\".")
                .arg(nameOf(row), value);
        break;
    }
    return QString();
}

// Whether the value was joined to its option with "=": given so on purpose,
// even where it looks like an option (a profile named "-h").
bool joinedValue(const Row &row, const QString &value, const QStringList &arguments)
{
    const QString joined = u'-' + nameOf(row) + u'=' + value;
    return arguments.contains(joined) || arguments.contains(u'-' + joined);
}

// An option taken as the value of the one before it ("--classify --json
// FILE"): the parser gives the word after an option to it, whatever it is.
QString swallowedOption(const Row &row, const QString &value, const QStringList &arguments)
{
    if (row.value == Value::None || !value.startsWith(u'-') || joinedValue(row, value, arguments))
        return QString();
    if (!find(QStringView(value).mid(value.startsWith(QLatin1String("--")) ? 2 : 1)))
        return QString();
    const QString what = row.value == Value::Fingerprint ? QStringLiteral("fingerprint")
                                                         : QString::fromLatin1(row.valueName);
    return QStringLiteral("--%1 needs its %2 right after it, not \"%3\".").arg(nameOf(row), what, value);
}

// Why a given option does not go with the others; empty when it does.
QString usageProblem(const Row &row, const QCommandLineParser &parser)
{
    if ((row.worksWith && !anySet(parser, row.worksWith)) || (row.notWith && anySet(parser, row.notWith)))
        return QStringLiteral("--%1 works only with %2.").arg(nameOf(row), QString::fromLatin1(row.withText));
    return QString();
}

QString exclusionProblem(const Row &row, const QCommandLineParser &parser)
{
    if (!row.excludes)
        return QString();
    for (const QString &other : QString::fromLatin1(row.excludes).split(u' ', Qt::SkipEmptyParts)) {
        if (parser.isSet(other))
            return QStringLiteral("--%1 and --%2 exclude each other.").arg(nameOf(row), other);
    }
    return QString();
}

void store(const Row &row, const QString &value, CommandLine::Options *options)
{
    if (row.flag)
        options->*row.flag = true;
    if (row.number)
        options->*row.number = seconds(value);
    if (!row.text)
        return;
    switch (row.value) {
    case Value::Fingerprint:
        options->*row.text = fingerprint(value);
        break;
    case Value::ProfileName:
        // Trimmed as the window trims a new profile's name, and no more: a
        // name may end in another kind of space, and must not reach the
        // profile without it.
        options->*row.text = TrimSpaces(value);
        break;
    default:
        options->*row.text = value;
        break;
    }
}

// The first problem `check` finds among the given rows.
template <typename Check>
QString firstProblem(const QList<const Row *> &given, Check check)
{
    for (const Row *row : given) {
        if (QString why = check(*row); !why.isEmpty())
            return why;
    }
    return QString();
}

// A file or folder given twice: all but the last would go unread, unsaid.
QString repeatedProblem(const Row &row, const QCommandLineParser &parser)
{
    const qsizetype times = row.value == Value::FileName ? parser.values(nameOf(row)).size() : 1;
    if (times < 2)
        return QString();
    return QStringLiteral("--%1 takes one file or folder a run, not %2.").arg(nameOf(row)).arg(times);
}

// Every action, as a refusal names them: "--check, --watch ... or --classify".
QString actionNames(const QString &lastJoin)
{
    QStringList names;
    for (const Row &row : rows()) {
        if (row.kind == Kind::Action)
            names << QStringLiteral("--") + nameOf(row);
    }
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + u' ' + lastJoin + u' ' + last;
}

} // namespace

bool read(const QCommandLineParser &parser, const QStringList &arguments, CommandLine::Options *options,
          const Row **action, QString *why)
{
    QList<const Row *> given;
    QList<const Row *> actions;
    for (const Row &row : rows()) {
        if (parser.isSet(nameOf(row))) {
            given << &row;
            if (row.kind == Kind::Action)
                actions << &row;
        }
    }
    // First: a swallowed option leaves a stray word behind, and is the mistake to name.
    *why = firstProblem(given, [&](const Row &row) { return swallowedOption(row, valueOf(parser, row), arguments); });
    if (why->isEmpty() && !parser.positionalArguments().isEmpty())
        *why = QStringLiteral("Unexpected argument \"%1\".").arg(parser.positionalArguments().constFirst());
    if (why->isEmpty())
        *why = firstProblem(given, [&parser](const Row &row) { return usageProblem(row, parser); });
    if (why->isEmpty())
        *why = firstProblem(given, [&parser](const Row &row) { return repeatedProblem(row, parser); });
    if (why->isEmpty() && actions.isEmpty())
        *why = QStringLiteral("Say what to do: %1.").arg(actionNames(QStringLiteral("or")));
    if (why->isEmpty() && actions.size() > 1)
        *why = QStringLiteral("Only one of %1 at a time.").arg(actionNames(QStringLiteral("and")));
    if (why->isEmpty())
        *why = firstProblem(given, [&parser](const Row &row) { return exclusionProblem(row, parser); });
    if (why->isEmpty())
        *why = firstProblem(given, [&parser](const Row &row) { return valueProblem(row, valueOf(parser, row)); });
    if (!why->isEmpty())
        return false;
    for (const Row *row : given)
        store(*row, valueOf(parser, *row), options);
    *action = actions.constFirst();
    return true;
}

} // namespace OptionTable
