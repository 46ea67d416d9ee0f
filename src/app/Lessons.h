#pragma once

#include "MessageEntry.h"

#include <QList>
#include <QString>

class MessageFolderModel;
class RuleDatabase;

// What the user's decisions in the window teach the profile's learning.
// Rows that only a learned verdict sorted, and that the user left where it
// put them, teach nothing: the learning never confirms itself. Each returns
// an empty text, or why the lessons could not be stored.
namespace Lessons {

// Rows the user moved (by hand, or by a rule made from a message): to the
// Recycle Bin spam, to the Inbox good; a row moved back undoes its lesson.
QString fromMoves(RuleDatabase &db, const QString &profile, const QList<MessageEntry> &moved, bool toRecycleBin);
// After Empty Recycle Bin: what the server deleted was spam, and the Inbox
// the user reviewed and left (null when the Empty did not finish) is good mail.
QString fromEmpty(RuleDatabase &db, const QString &profile, const QList<MessageEntry> &deleted,
                  const MessageFolderModel *reviewedInbox);
// Forgets all the profile learned (a profile deleted, or reset by the user);
// forgetAll() every profile's.
QString forget(RuleDatabase &db, const QString &profile);
QString forgetAll(RuleDatabase &db);

} // namespace Lessons
