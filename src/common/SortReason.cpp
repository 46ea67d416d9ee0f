#include "SortReason.h"

QString SortReason::text() const
{
    switch (kind) {
    case Kind::Filter:
        return rule + QStringLiteral(" (Filter List)");
    case Kind::Exempted:
        return rule + QStringLiteral(" (Exempted List)");
    case Kind::ByHand:
        return QStringLiteral("Moved by hand");
    case Kind::Learned: {
        QString text = QStringLiteral("Learned: %1 % like your spam").arg(percent);
        if (verdict == Verdict::Unsure)
            text += QStringLiteral(", unsure");
        else if (verdict == Verdict::Spam && keptForReview)
            text += QStringLiteral(", kept for review");
        if (!reasons.isEmpty())
            text += QStringLiteral(" (") + reasons.join(QStringLiteral("; ")) + u')';
        return text;
    }
    case Kind::NoRule:
        break;
    }
    return QStringLiteral("No rule matched");
}

SortReason SortReason::learned(Verdict verdict, int percent, const QStringList &reasons)
{
    SortReason reason;
    reason.kind = Kind::Learned;
    reason.verdict = verdict;
    reason.percent = percent;
    reason.reasons = reasons;
    return reason;
}

QString SortReason::verdictName() const
{
    if (kind != Kind::Learned)
        return {};
    return verdict == Verdict::Spam  ? QStringLiteral("spam")
        : verdict == Verdict::Unsure ? QStringLiteral("unsure")
                                     : QStringLiteral("good");
}
