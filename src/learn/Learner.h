#pragma once

#include "LearnModel.h"
#include "LearnStore.h"

#include <QByteArrayView>
#include <QList>
#include <optional>

class RuleDatabase;

// One profile's learning: its verdicts on new headers, and the lessons the
// user's decisions give. A message teaches once (known by its header digest):
// the same lesson again changes nothing, the opposite one replaces it, and
// forget() takes it back. Verdicts never teach: only teach() does.
class Learner {
public:
    struct Lesson {
        QByteArray header;
        bool spam = false;
    };

    Learner(RuleDatabase &database, const QString &profile);

    // Reads the profile's counts. False with *error when they cannot be read.
    bool load(QString *error);

    // Kind::None until the profile has learned enough of both kinds.
    LearnedVerdict verdict(QByteArrayView header) const;

    // Teaches and stores the lessons in one transaction of the counts;
    // `*taught` (when given) says how many of them were new.
    bool teach(const QList<Lesson> &lessons, QString *error, qsizetype *taught = nullptr)
    {
        return apply(lessons, false, error, taught);
    }
    // Messages the user moved (to the Recycle Bin: spam): a message moved
    // back, against the lesson its earlier move gave, takes that lesson back
    // and teaches nothing new; any other move teaches.
    bool moved(const QList<Lesson> &lessons, QString *error) { return apply(lessons, true, error); }
    bool teach(QByteArrayView header, bool spam, QString *error)
    {
        return teach({{header.toByteArray(), spam}}, error);
    }
    // Takes back the lesson this message gave, if any.
    bool forget(QByteArrayView header, QString *error);

    const LearnModel &model() const { return m_model; }
    LearnStore &store() { return m_store; }

    // The fingerprint a message's lesson is known by.
    static QByteArray digestOf(QByteArrayView header);

private:
    bool apply(const QList<Lesson> &lessons, bool oppositeUndoes, QString *error, qsizetype *taught = nullptr);

    LearnStore m_store;
    LearnModel m_model;
};
