#pragma once

#include <QString>

// Why a message row is in its folder: the rule that sorted it (its value as
// stored, and the list it belongs to), no rule at all, or the user's hand.
struct SortReason {
    enum class Kind { NoRule, Filter, Exempted, ByHand };
    Kind kind = Kind::NoRule;
    QString rule; // the rule value as stored; empty unless Filter or Exempted

    // "*@spam.example (Filter List)", "boss@work.example (Exempted List)",
    // "No rule matched", "Moved by hand".
    QString text() const;

    bool operator==(const SortReason &other) const = default;
};
