// SampleImapServer: the commands on a selected folder.
#include "SampleImapServerParts.h"

#include <algorithm>

using SampleImap::wordsOf;

namespace {

const QByteArray kInternalDate = "\"06-Dec-2026 10:00:00 +0000\"";

} // namespace

void SampleImapServer::handleSelected(Session &session, const QByteArray &tag, const QByteArray &command,
                                      const QByteArray &args, Reply &reply)
{
    Folder &folder = m_folders[session.selected];
    const qsizetype space = args.indexOf(' ');
    const QByteArray set = space < 0 ? args : args.left(space);
    const QByteArray rest = space < 0 ? QByteArray() : args.mid(space + 1);
    const bool changes = command == "UID MOVE" || command == "UID STORE" || command == "UID EXPUNGE";
    if (changes && session.readOnly) {
        reply.add(tag + " NO the folder is read-only\r\n");
        return;
    }
    if (command == "UID FETCH") {
        fetch(session, set, rest.toUpper(), reply);
    } else if (command == "UID SEARCH") {
        if (!search(session, tag, args, reply))
            return;
    } else if (command == "UID MOVE" || command == "UID COPY") {
        if (command == "UID MOVE" && !m_offerMove) {
            reply.add(tag + " BAD unknown command\r\n");
            return;
        }
        transfer(session, tag, args, command == "UID MOVE", reply);
        return;
    } else if (command == "UID STORE") {
        const QList<QByteArray> words = wordsOf(rest);
        const QByteArray op = words.value(0).toUpper();
        const QByteArray flags = words.value(1).toUpper();
        const bool add = !op.startsWith('-');
        for (const qsizetype i : indexesOf(session, folder, set)) {
            Message &m = folder.messages[i];
            if (op.startsWith("FLAGS"))
                m.deleted = m.seen = false;
            m.deleted = flags.contains("\\DELETED") ? add : m.deleted;
            m.seen = flags.contains("\\SEEN") ? add : m.seen;
            if (!op.endsWith(".SILENT"))
                reply.add("* " + QByteArray::number(i + 1) + " FETCH (UID " + QByteArray::number(m.uid) + " FLAGS ("
                          + (m.seen ? "\\Seen" : "") + (m.seen && m.deleted ? " " : "") + (m.deleted ? "\\Deleted" : "")
                          + "))\r\n");
        }
    } else if (command == "UID EXPUNGE") {
        QList<qsizetype> marked;
        for (const qsizetype i : indexesOf(session, folder, set))
            if (folder.messages.at(i).deleted)
                marked.append(i);
        expunge(session, marked, reply);
    } else {
        reply.add(tag + " BAD unknown command\r\n");
        return;
    }
    announce(session, reply);
    reply.add(tag + " OK " + command + " completed\r\n");
}

void SampleImapServer::fetch(Session &session, const QByteArray &set, const QByteArray &items, Reply &reply)
{
    Folder &folder = m_folders[session.selected];
    const bool size = items.contains("RFC822.SIZE");
    const bool date = items.contains("INTERNALDATE");
    const bool flags = items.contains("FLAGS");
    const bool peek = items.contains("BODY.PEEK[HEADER]");
    const bool header = peek || items.contains("BODY[HEADER]");
    for (const qsizetype i : indexesOf(session, folder, set)) {
        Message &m = folder.messages[i];
        if (header && !peek && !session.readOnly)
            m.seen = true;
        QByteArray line = "* " + QByteArray::number(i + 1) + " FETCH (UID " + QByteArray::number(m.uid);
        if (size)
            line += " RFC822.SIZE " + QByteArray::number(m.data.size());
        if (date)
            line += " INTERNALDATE " + kInternalDate;
        if (flags)
            line += QByteArray(" FLAGS (") + (m.seen ? "\\Seen" : "") + (m.seen && m.deleted ? " " : "")
                + (m.deleted ? "\\Deleted" : "") + ")";
        if (header) {
            reply.add(line + " BODY[HEADER] {" + QByteArray::number(m.headerBytes) + "}\r\n");
            reply.add(QByteArray::fromRawData(m.data.constData(), m.headerBytes));
            reply.add(")\r\n");
        } else {
            reply.add(line + ")\r\n");
        }
    }
}

void SampleImapServer::transfer(Session &session, const QByteArray &tag, const QByteArray &args, bool move,
                                Reply &reply)
{
    const QList<QByteArray> words = wordsOf(args);
    const QString name = words.value(1).compare("INBOX", Qt::CaseInsensitive) == 0 ? QStringLiteral("INBOX")
                                                                                   : QString::fromUtf8(words.value(1));
    if (words.size() != 2 || !m_folders.contains(name) || name == session.selected) {
        reply.add(tag + " NO [TRYCREATE] no such folder\r\n");
        return;
    }
    Folder &source = m_folders[session.selected];
    Folder &target = m_folders[name];
    const QList<qsizetype> indexes = indexesOf(session, source, words.at(0));
    QByteArrayList from, to;
    for (const qsizetype i : indexes) {
        Message copy = source.messages.at(i);
        from.append(QByteArray::number(copy.uid));
        copy.uid = target.uidNext++;
        copy.deleted = false;
        to.append(QByteArray::number(copy.uid));
        target.messages.append(std::move(copy));
    }
    const QByteArray code = indexes.isEmpty()
        ? QByteArray()
        : "[COPYUID " + QByteArray::number(target.uidValidity) + ' ' + from.join(',') + ' ' + to.join(',') + "] ";
    if (move) {
        reply.add("* OK " + code + "moved\r\n");
        expunge(session, indexes, reply);
    }
    announce(session, reply);
    reply.add(tag + " OK " + (move ? QByteArray() : code) + (move ? "MOVE" : "COPY") + " completed\r\n");
}

void SampleImapServer::expunge(Session &session, const QList<qsizetype> &indexes, Reply &reply)
{
    QList<Message> &messages = m_folders[session.selected].messages;
    // From the last, so that each number is still the message's own.
    for (auto i = indexes.crbegin(); i != indexes.crend(); ++i) {
        messages.removeAt(*i);
        reply.add("* " + QByteArray::number(*i + 1) + " EXPUNGE\r\n");
        --session.known;
    }
}

// UID SEARCH UID <set>, optionally DELETED or UNDELETED, or ALL.
bool SampleImapServer::search(const Session &session, const QByteArray &tag, const QByteArray &args, Reply &reply)
{
    const Folder &folder = m_folders[session.selected];
    const QList<QByteArray> words = wordsOf(args);
    const bool all = words.value(0).toUpper() == "ALL";
    const QByteArray flag = words.value(all ? 1 : 2).toUpper();
    const bool knownFlag = flag.isEmpty() || flag == "DELETED" || flag == "UNDELETED";
    if (!knownFlag || (!all && (words.size() < 2 || words.size() > 3 || words.at(0).toUpper() != "UID"))) {
        reply.add(tag + " BAD only UID SEARCH UID <set> [DELETED|UNDELETED] and ALL\r\n");
        return false;
    }
    QByteArray found = "* SEARCH";
    for (const qsizetype i : indexesOf(session, folder, all ? QByteArray("1:*") : words.at(1))) {
        const Message &m = folder.messages.at(i);
        if ((flag == "DELETED" && !m.deleted) || (flag == "UNDELETED" && m.deleted))
            continue;
        found += ' ' + QByteArray::number(m.uid);
    }
    reply.add(found + "\r\n");
    return true;
}

QList<qsizetype> SampleImapServer::indexesOf(const Session &session, const Folder &folder, const QByteArray &set) const
{
    QList<qsizetype> indexes;
    // A silent server's session sees the folder as it was when opened.
    qsizetype visible = folder.messages.size();
    while (m_silent && visible > 0 && folder.messages.at(visible - 1).uid >= session.seenUpTo)
        --visible;
    const QList<Message> &messages = folder.messages;
    if (visible == 0)
        return indexes;
    const auto end = messages.cbegin() + visible;
    const quint32 last = messages.at(visible - 1).uid;
    const auto number = [last](const QByteArray &text) { return text == "*" ? last : text.toUInt(); };
    for (const QByteArray &range : set.split(',')) {
        const qsizetype colon = range.indexOf(':');
        quint32 low = number(range.left(colon < 0 ? range.size() : colon));
        quint32 high = colon < 0 ? low : number(range.mid(colon + 1));
        if (low > high)
            std::swap(low, high);
        auto it = std::lower_bound(messages.cbegin(), end, low,
                                   [](const Message &m, quint32 uid) { return m.uid < uid; });
        for (; it != end && it->uid <= high; ++it)
            indexes.append(it - messages.cbegin());
    }
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    return indexes;
}
