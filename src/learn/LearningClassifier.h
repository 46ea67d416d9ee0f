#pragma once

#include "RuleClassifier.h"

class RuleDatabase;

// The rules first, then what the profile learned: an exempted rule keeps a
// message and a filter rule sends it to the Recycle Bin; only where no rule
// decides does the learned verdict (spam to the Recycle Bin, unsure and good
// to the Inbox). A profile that learned too little to judge, or whose counts
// cannot be read, sorts exactly as by the rules alone. The counts are read
// at the first message no rule decides, once; nothing here teaches.
namespace LearningClassifier {

MessageClassifier lazy(RuleDatabase &db, const QString &profile);

} // namespace LearningClassifier
