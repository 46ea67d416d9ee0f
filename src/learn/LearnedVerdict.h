#pragma once

#include <QString>
#include <QStringList>

// What the learned classifier thinks of a message: nothing (too little has
// been learned to judge), good, unsure or spam; how much it looks like the
// user's spam (0 to 1) and the strongest reasons, in words.
struct LearnedVerdict {
    enum class Kind { None, Good, Unsure, Spam };
    Kind kind = Kind::None;
    double score = 0.5;
    QStringList reasons; // at most three, strongest first

    // "Learned: 97 % like your spam".
    QString text() const;
    // 0 to 100, as text() shows it.
    int percent() const;
    // "spam", "unsure", "good" or "none", as the JSON says it.
    QString kindName() const;
};
