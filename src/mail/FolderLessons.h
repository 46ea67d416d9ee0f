#pragma once

#include "MailResult.h"
#include "SessionOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

class CancelFlag;
class RunStatus;
struct ProfileSettingsRecord;

// Lessons from the mail a user already sorted into folders on the server:
// what each folder read gave, and where its headers go.
struct LessonFolder {
    QString name; // as the user reads it
    bool spam = false;
    qsizetype messages = 0; // there, not thrown away
    qsizetype read = 0; // headers that arrived
};
// Gets headers a batch at a time; false stops the reading (the sink keeps
// why).
using LessonSink = std::function<bool(const QList<QByteArray> &headers, bool spam)>;

// One session that reads a server's sorted folders, for a protocol that
// keeps them: Done also when there was nothing to read.
using ReadFolderLessons = std::function<MailResult(RunStatus &, const ProfileSettingsRecord &, CancelFlag &,
                                                   SessionOptions, const LessonSink &, QList<LessonFolder> &)>;
