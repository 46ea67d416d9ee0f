#include "ImapRemovalTally.h"

ImapRemovalTally::ImapRemovalTally(const QList<quint32> &uids, bool leftFlagged)
    : m_leftFlagged(leftFlagged)
{
    m_states.reserve(uids.size());
    for (const quint32 uid : uids)
        m_states.insert(uid, State{});
}

void ImapRemovalTally::answered(const QList<quint32> &uids, bool accepted)
{
    // A COPYUID comes before or with the completion it belongs to.
    bool reported = false;
    const int command = int(m_reported.size());
    for (const quint32 uid : uids) {
        const auto state = m_states.find(uid);
        if (state == m_states.end())
            continue;
        state->command = command;
        state->accepted = accepted;
        reported = reported || state->copied;
    }
    m_reported.append(reported);
}

void ImapRemovalTally::copied(QByteArrayView arguments)
{
    const qsizetype first = arguments.indexOf(' ');
    const qsizetype second = first < 0 ? -1 : arguments.indexOf(' ', first + 1);
    if (second < 0)
        return;
    const ImapCommands::UidRuns source = ImapCommands::parseUidSet(arguments.sliced(first + 1, second - first - 1));
    for (auto state = m_states.begin(); state != m_states.end(); ++state)
        if (source.contains(state.key()))
            state->copied = true;
}

void ImapRemovalTally::stillThere(quint32 uid, bool flagged)
{
    const auto state = m_states.find(uid);
    if (state == m_states.end())
        return;
    state->there = true;
    state->flagged = state->flagged || flagged;
}

std::optional<RemovalAnswer> ImapRemovalTally::answer(quint32 uid) const
{
    const auto found = m_states.constFind(uid);
    if (found == m_states.constEnd() || found->command < 0)
        return std::nullopt;
    const State &s = *found;
    if (!s.accepted)
        return RemovalAnswer::Refused;
    if (m_leftFlagged) {
        // Marked and left in the folder: removed as far as this server goes.
        if (!m_searched)
            return RemovalAnswer::Removed;
        return s.flagged ? RemovalAnswer::Removed : s.there ? RemovalAnswer::Refused : RemovalAnswer::Gone;
    }
    if (m_searched && s.there)
        return RemovalAnswer::Refused;
    // A command whose COPYUID names what it took did not take the others:
    // they had left the folder before it came.
    if (!s.copied && m_reported.at(s.command))
        return RemovalAnswer::Gone;
    return RemovalAnswer::Removed;
}
