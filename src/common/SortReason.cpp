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
    case Kind::NoRule:
        break;
    }
    return QStringLiteral("No rule matched");
}
