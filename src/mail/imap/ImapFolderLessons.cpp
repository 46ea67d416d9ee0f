#include "ImapFolderLessons.h"

#include "CancelFlag.h"
#include "ImapCommands.h"
#include "ImapFolderNames.h"
#include "RunStatus.h"

#include <QSet>
#include <algorithm>

namespace {

bool hasAtom(const QList<QByteArray> &atoms, QByteArrayView atom)
{
    return std::any_of(atoms.cbegin(), atoms.cend(),
                       [atom](const QByteArray &a) { return a.compare(atom, Qt::CaseInsensitive) == 0; });
}

} // namespace

ImapFolderLessons::ImapFolderLessons(ImapSession &session, RunStatus &status, CancelFlag &cancel, qsizetype newest)
    : m_session(session)
    , m_status(status)
    , m_cancel(cancel)
    , m_newest(newest)
{
}

MailResult ImapFolderLessons::ended(ImapSession::Outcome outcome)
{
    m_session.dropHandlers();
    // A Cancel also keeps a command from going out: that is no failure.
    if (outcome == ImapSession::Outcome::Cancelled || m_cancel.isSet()) {
        // Answers owed to reads protect nothing: the session ends at once.
        m_session.closeServer();
        return MailResult::cancelled();
    }
    if (outcome == ImapSession::Outcome::Failed)
        return m_session.failure();
    return MailResult::done();
}

MailResult ImapFolderLessons::listFolders(QList<Listed> &listed)
{
    // Without SPECIAL-USE a server may still mark its folders in a plain LIST.
    const QByteArray command = m_session.hasCapability("SPECIAL-USE") ? "LIST (SPECIAL-USE) \"\" \"*\""
                                                                      : "LIST \"\" \"*\"";
    const ImapSession::Outcome outcome = m_session.run(command, [&listed](const ImapResponse &r) {
        if (r.keyword != "LIST" || r.values.size() < 3 || r.values.at(0).kind != ImapValue::Kind::List
            || r.values.at(2).kind == ImapValue::Kind::Nil)
            return;
        Listed folder{r.values.at(2).text, {}};
        for (const ImapValue &flag : r.values.at(0).items)
            folder.flags.append(flag.text);
        if (!hasAtom(folder.flags, "\\Noselect") && !hasAtom(folder.flags, "\\NonExistent"))
            listed.append(folder);
    });
    if (outcome != ImapSession::Outcome::Completed)
        return ended(outcome);
    if (!m_session.completedOk())
        return m_session.refused(QStringLiteral("list its folders"));
    return MailResult::done();
}

MailResult ImapFolderLessons::readServer(RunStatus &status, const ProfileSettingsRecord &settings, CancelFlag &cancel,
                                         SessionOptions options, const Sink &sink, QList<Folder> &folders)
{
    ImapSession session(status, settings, cancel, std::move(options));
    MailResult result = session.connectServer();
    if (result.ok())
        result = session.login();
    if (result.ok()) {
        ImapFolderLessons lessons(session, status, cancel);
        result = lessons.read(sink);
        folders = lessons.folders();
    }
    if (result.ok())
        (void)session.logout();
    else
        session.closeServer();
    return result;
}

MailResult ImapFolderLessons::read(const Sink &sink)
{
    m_folders.clear();
    m_stopped = false;
    QList<Listed> listed;
    if (MailResult result = listFolders(listed); !result.ok())
        return result;
    // The folder of this use: marked so, else by its usual names.
    const auto find = [&listed](const QByteArray &use) -> const Listed * {
        for (const Listed &folder : listed)
            if (hasAtom(folder.flags, use))
                return &folder;
        for (const QByteArray &usual : ImapFolderNames::usual(use))
            for (const Listed &folder : listed)
                if (ImapFolderNames::named(folder.name, usual))
                    return &folder;
        return nullptr;
    };
    QList<std::pair<QByteArray, bool>> toRead;
    if (const Listed *junk = find("\\Junk"))
        toRead.append({junk->name, true});
    toRead.append({"INBOX", false});
    if (const Listed *archive = find("\\Archive"); archive && archive->name.compare("INBOX", Qt::CaseInsensitive))
        toRead.append({archive->name, false});
    for (const auto &[name, spam] : std::as_const(toRead)) {
        const std::optional<QByteArray> wire = ImapCommands::quoted(name);
        if (!wire)
            continue; // a name no quoted string can carry: not one of these
        m_folders.append({ImapCommands::mailboxName(name), spam});
        if (MailResult result = readFolder(*wire, m_folders.last(), sink); !result.ok() || m_stopped)
            return result;
    }
    return MailResult::done();
}

MailResult ImapFolderLessons::uidsOf(const QByteArray &wire, const QString &name, QList<quint32> &uids)
{
    // Both at once: the listing of an empty folder may be refused harmlessly.
    const quint64 examine = m_session.send("EXAMINE " + wire);
    QSet<quint32> seen;
    const quint64 fetch = examine == 0 ? 0 : m_session.send("UID FETCH 1:* (UID FLAGS)", [&](const ImapResponse &r) {
        const ImapValue *uid = r.fetchItem("UID");
        const ImapValue *flags = r.fetchItem("FLAGS");
        // A FETCH that only tells of a flag change carries no UID asked for.
        if (r.keyword != "FETCH" || !uid || uid->number() <= 0 || uid->number() > 0xffffffffLL || !flags
            || flags->kind != ImapValue::Kind::List)
            return;
        const bool deleted = std::any_of(flags->items.cbegin(), flags->items.cend(),
                                         [](const ImapValue &f) { return f.isAtom("\\Deleted"); });
        if (!deleted && !seen.contains(quint32(uid->number()))) {
            seen.insert(quint32(uid->number()));
            uids.append(quint32(uid->number()));
        }
    });
    if (examine == 0)
        return ended(ImapSession::Outcome::Failed);
    ImapSession::Outcome outcome = m_session.await(examine);
    const bool examined = outcome == ImapSession::Outcome::Completed && m_session.completedOk();
    const MailResult refusal = examined ? MailResult::done()
                                        : m_session.refused(QStringLiteral("open the folder %1").arg(name));
    if (outcome == ImapSession::Outcome::Completed)
        outcome = m_session.await(fetch);
    if (outcome != ImapSession::Outcome::Completed)
        return ended(outcome);
    m_session.dropHandlers();
    if (!examined)
        return refusal;
    std::sort(uids.begin(), uids.end());
    return MailResult::done();
}

MailResult ImapFolderLessons::readFolder(const QByteArray &wire, Folder &folder, const Sink &sink)
{
    QList<quint32> uids;
    if (MailResult result = uidsOf(wire, folder.name, uids); !result.ok())
        return result;
    folder.messages = uids.size();
    // The newest by UID: a folder's UIDs grow with each arrival.
    uids = uids.mid(std::max<qsizetype>(0, uids.size() - m_newest));
    m_status.setProgressMaximum(int(uids.size()));
    m_status.setProgressValue(0);
    m_status.setStatusText(QStringLiteral("Reading %1: 0 of %2").arg(folder.name).arg(uids.size()));
    for (qsizetype at = 0; at < uids.size() && !m_stopped; at += kChunk) {
        const QList<quint32> chunk = uids.mid(at, kChunk);
        const QSet<quint32> asked(chunk.cbegin(), chunk.cend());
        QSet<quint32> arrived;
        QList<QByteArray> headers;
        const ImapSession::Outcome outcome = m_session.run(
            "UID FETCH " + ImapCommands::uidSet(chunk) + " (UID BODY.PEEK[HEADER])", [&](const ImapResponse &r) {
                const ImapValue *uid = r.fetchItem("UID");
                const ImapValue *header = r.fetchItem("BODY[HEADER]");
                // Each asked UID once; what else comes is no answer of ours.
                if (r.keyword != "FETCH" || !uid || !header || header->kind == ImapValue::Kind::Nil
                    || !asked.contains(quint32(uid->number())) || arrived.contains(quint32(uid->number())))
                    return;
                arrived.insert(quint32(uid->number()));
                headers.append(QByteArray(header->text.constData(), header->text.size())); // kept past the buffer
            });
        if (outcome != ImapSession::Outcome::Completed)
            return ended(outcome);
        m_session.dropHandlers();
        // NO: some of them went meanwhile; what came still teaches. BAD: out of step.
        if (m_session.completion().keyword == "BAD")
            return m_session.refused(QStringLiteral("send the headers of %1").arg(folder.name));
        folder.read += headers.size();
        if (!headers.isEmpty() && !sink(headers, folder.spam))
            m_stopped = true;
        const qsizetype done = std::min(at + kChunk, uids.size());
        m_status.setProgressValue(int(done));
        m_status.setStatusText(QStringLiteral("Reading %1: %2 of %3").arg(folder.name).arg(done).arg(uids.size()));
    }
    return MailResult::done();
}
