#include "LearningClassifier.h"

#include "Learner.h"
#include "RuleDatabase.h"

#include <memory>
#include <optional>

namespace {

SortReason::Verdict verdictOf(LearnedVerdict::Kind kind)
{
    switch (kind) {
    case LearnedVerdict::Kind::Spam:
        return SortReason::Verdict::Spam;
    case LearnedVerdict::Kind::Unsure:
        return SortReason::Verdict::Unsure;
    case LearnedVerdict::Kind::Good:
    case LearnedVerdict::Kind::None:
        break;
    }
    return SortReason::Verdict::Good;
}

} // namespace

MessageClassifier LearningClassifier::lazy(RuleDatabase &db, const QString &profile)
{
    MessageClassifier rules = RuleClassifier::lazy(db);
    // Loaded by the first part, on the thread that owns the database, before
    // the second part is ever asked; only read after that.
    auto learner = std::make_shared<std::optional<Learner>>();
    auto tried = std::make_shared<bool>(false);
    RuleDatabase *database = &db;
    MessageClassifier::First first = [rules = std::move(rules), learner, tried, database,
                                      profile](const QString &sender, QByteArrayView header, qint64 size) {
        const SortReason byRules = rules(sender, header, size);
        if (byRules.kind == SortReason::Kind::NoRule && !*tried) {
            *tried = true;
            learner->emplace(*database, profile);
            QString error;
            if (!(*learner)->load(&error))
                learner->reset(); // the rules alone, as before any learning
        }
        return byRules;
    };
    MessageClassifier::Later later = [learner](QByteArrayView header) -> std::optional<SortReason> {
        if (!learner->has_value())
            return std::nullopt;
        const LearnedVerdict verdict = (*learner)->verdict(header);
        if (verdict.kind == LearnedVerdict::Kind::None)
            return std::nullopt;
        return SortReason::learned(verdictOf(verdict.kind), verdict.percent(), verdict.reasons);
    };
    return {std::move(first), std::move(later)};
}
