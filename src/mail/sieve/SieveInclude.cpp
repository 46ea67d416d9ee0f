#include "SieveInclude.h"

#include "SieveParser.h"

#include <QStringList>

namespace SieveInclude {

namespace {

const QString kBegin = QStringLiteral("# Added by Trelvik: its rules run first. Removed with them.\n");
const QString kEnd = QStringLiteral("# End of the lines added by Trelvik.\n");

// The script's leading require commands: where the line after the last one
// begins, and the extensions they name.
struct Requires {
    qsizetype end = 0;
    QStringList extensions;
};

void skipSpace(const QString &s, qsizetype &i)
{
    while (i < s.size()) {
        if (s.at(i).isSpace()) {
            ++i;
        } else if (s.at(i) == u'#') {
            while (i < s.size() && s.at(i) != u'\n')
                ++i;
        } else if (s.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype close = s.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? s.size() : close + 2;
        } else {
            return;
        }
    }
}

// A quoted string at i; false when there is none.
bool readString(const QString &s, qsizetype &i, QString *out)
{
    if (i >= s.size() || s.at(i) != u'"')
        return false;
    for (++i; i < s.size(); ++i) {
        if (s.at(i) == u'\\' && i + 1 < s.size())
            *out += s.at(++i);
        else if (s.at(i) == u'"')
            return ++i, true;
        else
            *out += s.at(i);
    }
    return false;
}

// One `require "x";` or `require ["x", "y"];` at i.
bool readRequire(const QString &s, qsizetype &i, QStringList *extensions)
{
    if (s.mid(i, 7).compare(QLatin1String("require"), Qt::CaseInsensitive) != 0)
        return false;
    i += 7;
    skipSpace(s, i);
    const bool list = i < s.size() && s.at(i) == u'[';
    if (list)
        ++i;
    for (;;) {
        skipSpace(s, i);
        QString name;
        if (!readString(s, i, &name))
            return false;
        extensions->append(name.toLower());
        skipSpace(s, i);
        if (!list || i >= s.size() || s.at(i) != u',')
            break;
        ++i;
    }
    if (list && (i >= s.size() || s.at(i++) != u']'))
        return false;
    skipSpace(s, i);
    return i < s.size() && s.at(i++) == u';';
}

Requires leadingRequires(const QString &s)
{
    Requires found;
    qsizetype i = 0;
    for (;;) {
        skipSpace(s, i);
        qsizetype at = i;
        QStringList names;
        if (!readRequire(s, at, &names))
            return found;
        found.extensions += names;
        // The rest of that line stays with it (a comment, say).
        const qsizetype lineEnd = s.indexOf(u'\n', at);
        found.end = lineEnd < 0 ? s.size() : lineEnd + 1;
        i = at;
    }
}

} // namespace

bool has(const QString &script)
{
    const qsizetype begin = script.indexOf(kBegin);
    return begin >= 0 && script.indexOf(kEnd, begin) >= 0;
}

QString add(const QString &script, const QString &name)
{
    const Requires requires_ = leadingRequires(script);
    QString block = kBegin;
    if (!requires_.extensions.contains(QLatin1String("include")))
        block += QStringLiteral("require \"include\";\n");
    block += QStringLiteral("include :personal %1;\n").arg(QString::fromUtf8(SieveParser::string(name.toUtf8())));
    block += kEnd;
    QString out = script;
    if (requires_.end > 0 && !out.at(requires_.end - 1).isSpace())
        block.prepend(u'\n'); // the last require ended the file without a line break
    return out.insert(requires_.end, block);
}

std::optional<QString> remove(const QString &script)
{
    const qsizetype begin = script.indexOf(kBegin);
    const qsizetype end = begin < 0 ? -1 : script.indexOf(kEnd, begin);
    if (end < 0)
        return std::nullopt;
    QString out = script;
    return out.remove(begin, end + kEnd.size() - begin);
}

} // namespace SieveInclude
