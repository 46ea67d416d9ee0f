#pragma once

#include <QString>

// The text without leading and trailing spaces. Only the space character is
// removed: a tab or other white space typed into a password is kept.
inline QString TrimSpaces(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}
