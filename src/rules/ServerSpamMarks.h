#pragma once

#include <QStringList>

class RuleLists;

// The marks many mail servers write into the header of spam they pass on
// instead of deleting it, as filter list header rules. "X-Spam-Status" and
// "X-Spam" carry the verdict first and details after it ("Yes, score=7.1
// ..."), hence the star; "X-Spam-Flag" holds the verdict alone.
namespace ServerSpamMarks {

const QStringList &rules();

// Adds the marks the filter list lacks (case ignored, as the list compares);
// returns how many were added. A mark that could not be stored was reported
// by the list and is not counted. Throws RuleDatabaseError when a lookup fails.
int addTo(RuleLists &lists);

} // namespace ServerSpamMarks
