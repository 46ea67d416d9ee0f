#pragma once

#include "SortReason.h"

#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

class MessageClassifier;

// A function that sorts a message in one part (any but a classifier itself).
template <typename F>
concept SortingFunction =
    !std::is_same_v<std::remove_cvref_t<F>,
                    MessageClassifier> && std::is_invocable_r_v<SortReason, F, const QString &, QByteArrayView, qint64>;

// Sorts one message. Asked with the message's From value as the lists show
// it, its whole header (a TOP reply as the bytes came, status line allowed)
// and the size the server listed (-1 when not known).
//
// It may come in two parts. The first sorts on the thread that asks, and
// reads what it needs from the database there, once. Where it leaves a
// message without a rule, the second may judge it: that part only reads what
// the first made ready, so a fetch of many messages may run it on worker
// threads, several at once, while it reads on. Asked as a whole, the
// classifier runs both in turn.
class MessageClassifier {
public:
    using First = std::function<SortReason(const QString &sender, QByteArrayView header, qint64 size)>;
    // No value leaves the first part's reason standing.
    using Later = std::function<std::optional<SortReason>(QByteArrayView header)>;

    MessageClassifier() = default;
    template <SortingFunction F>
    MessageClassifier(F first) // NOLINT: any sorting function is a classifier of one part
        : m_first(std::move(first))
    {
    }
    MessageClassifier(First first, Later later)
        : m_first(std::move(first))
        , m_later(std::move(later))
    {
    }

    SortReason operator()(const QString &sender, QByteArrayView header, qint64 size) const;
    SortReason sortFirst(const QString &sender, QByteArrayView header, qint64 size) const
    {
        return m_first(sender, header, size);
    }
    bool hasLater() const { return bool(m_later); }
    // Whether a message the first part sorted so goes to the second.
    bool leavesToLater(const SortReason &byFirst) const { return m_later && byFirst.kind == SortReason::Kind::NoRule; }
    std::optional<SortReason> judgeLater(QByteArrayView header) const { return m_later(header); }
    explicit operator bool() const { return bool(m_first); }

    // The same classifier with `adjust` applied to what either part decides.
    MessageClassifier adjusted(std::function<void(SortReason &)> adjust) const;

private:
    First m_first;
    Later m_later;
};
