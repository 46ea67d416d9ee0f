#include "MessageClassifier.h"

SortReason MessageClassifier::operator()(const QString &sender, QByteArrayView header, qint64 size) const
{
    SortReason reason = m_first(sender, header, size);
    if (leavesToLater(reason)) {
        if (std::optional<SortReason> judged = m_later(header))
            return std::move(*judged);
    }
    return reason;
}

MessageClassifier MessageClassifier::adjusted(std::function<void(SortReason &)> adjust) const
{
    First first = [inner = m_first, adjust](const QString &sender, QByteArrayView header, qint64 size) {
        SortReason reason = inner(sender, header, size);
        adjust(reason);
        return reason;
    };
    Later later;
    if (m_later)
        later = [inner = m_later, adjust](QByteArrayView header) {
            std::optional<SortReason> reason = inner(header);
            if (reason)
                adjust(*reason);
            return reason;
        };
    return {std::move(first), std::move(later)};
}
