#include "SieveInclude.h"

#include "SieveParser.h"

#include <QByteArrayList>
#include <QByteArrayView>

namespace SieveInclude {

namespace {

const QByteArray kBegin = "# Added by Trelvik: its rules run first. Removed with them.\n";
const QByteArray kEnd = "# End of the lines added by Trelvik.\n";

// The script's leading require commands: where the lines go, and the
// extensions they name.
struct Requires {
    qsizetype end = 0;
    QByteArrayList extensions;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void skipSpace(const QByteArray &s, qsizetype &i)
{
    while (i < s.size()) {
        if (isBlank(s.at(i))) {
            ++i;
        } else if (s.at(i) == '#') {
            while (i < s.size() && s.at(i) != '\n')
                ++i;
        } else if (s.mid(i, 2) == "/*") {
            const qsizetype close = s.indexOf("*/", i + 2);
            i = close < 0 ? s.size() : close + 2;
        } else {
            return;
        }
    }
}

// A quoted string at i; false when there is none.
bool readString(const QByteArray &s, qsizetype &i, QByteArray *out)
{
    if (i >= s.size() || s.at(i) != '"')
        return false;
    for (++i; i < s.size(); ++i) {
        if (s.at(i) == '\\' && i + 1 < s.size())
            *out += s.at(++i);
        else if (s.at(i) == '"')
            return ++i, true;
        else
            *out += s.at(i);
    }
    return false;
}

// One `require "x";` or `require ["x", "y"];` at i.
bool readRequire(const QByteArray &s, qsizetype &i, QByteArrayList *extensions)
{
    if (s.size() - i < 7 || qstrnicmp(s.constData() + i, "require", 7) != 0)
        return false;
    i += 7;
    skipSpace(s, i);
    const bool list = i < s.size() && s.at(i) == '[';
    if (list)
        ++i;
    for (;;) {
        skipSpace(s, i);
        QByteArray name;
        if (!readString(s, i, &name))
            return false;
        extensions->append(name.toLower());
        skipSpace(s, i);
        if (!list || i >= s.size() || s.at(i) != ',')
            break;
        ++i;
    }
    if (list && (i >= s.size() || s.at(i++) != ']'))
        return false;
    skipSpace(s, i);
    return i < s.size() && s.at(i++) == ';';
}

// Whether the rest of a line, after a require, is blanks or a # comment.
bool onlyBlanksOrComment(QByteArrayView rest)
{
    qsizetype i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t' || rest[i] == '\r'))
        ++i;
    return i == rest.size() || rest[i] == '#';
}

Requires leadingRequires(const QByteArray &s)
{
    Requires found;
    qsizetype i = 0;
    for (;;) {
        skipSpace(s, i);
        qsizetype at = i;
        QByteArrayList names;
        if (!readRequire(s, at, &names))
            return found;
        found.extensions += names;
        // The rest of that line stays with it when it is a comment; anything
        // else there (a bracket comment or a string running on) may span
        // lines, so the lines go right after the semicolon, where the
        // first marker, itself a comment, ends that line.
        const qsizetype lineEnd = s.indexOf('\n', at);
        found.end = lineEnd >= 0 && onlyBlanksOrComment(QByteArrayView(s).sliced(at, lineEnd - at)) ? lineEnd + 1 : at;
        i = at;
    }
}

} // namespace

bool has(const QByteArray &script)
{
    const qsizetype begin = script.indexOf(kBegin);
    return begin >= 0 && script.indexOf(kEnd, begin) >= 0;
}

QByteArray add(const QByteArray &script, const QString &name)
{
    const Requires requires_ = leadingRequires(script);
    QByteArray block = kBegin;
    if (!requires_.extensions.contains("include"))
        block += "require \"include\";\n";
    block += "include :personal " + SieveParser::string(name.toUtf8()) + ";\n";
    block += kEnd;
    QByteArray out = script;
    return out.insert(requires_.end, block);
}

std::optional<QByteArray> remove(const QByteArray &script)
{
    const qsizetype begin = script.indexOf(kBegin);
    const qsizetype end = begin < 0 ? -1 : script.indexOf(kEnd, begin);
    if (end < 0)
        return std::nullopt;
    QByteArray out = script;
    return out.remove(begin, end + kEnd.size() - begin);
}

} // namespace SieveInclude
