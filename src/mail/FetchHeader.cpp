#include "MailOperations.h"

#include "CancelFlag.h"
#include "HeaderDigest.h"
#include "MailProtocols.h"
#include "HeaderScan.h"
#include "MessageRows.h"
#include "HeaderFields.h"
#include "ProfileRecord.h"
#include "RunStatus.h"
#include "SortingAhead.h"
#include "StringHelpers.h"

#include <QHash>
#include <QStringList>
#include <exception>
#include <utility>

namespace {

// Size texts made once for each shown size, so that the rows share them.
class SizeTexts {
public:
    QString text(qint64 bytes)
    {
        const qint64 thousands = bytes / 1000; // all a text shows
        auto found = m_texts.constFind(thousands);
        if (found == m_texts.constEnd())
            found = m_texts.insert(thousands, SizeText(bytes));
        return *found;
    }

private:
    QHash<qint64, QString> m_texts;
};

// The fetch's rows and progress. They reach the window in batches, whenever
// the event loop is about to run: a view told of each row on its own lays
// out again for every one, the status texts cost more than reading the
// message, and a batch per turn is all the window can paint anyway.
class FetchedRows {
public:
    FetchedRows(RunStatus &status, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                bool keepHeaderBlocks)
        : m_status(status)
        , m_inbox(inbox)
        , m_recycle(recycle)
        , m_classify(classify)
        , m_keepHeaderBlocks(keepHeaderBlocks)
    {
        if (classify.hasLater())
            m_sorting = std::make_unique<SortingAhead>(classify, [this](MessageEntry &&row) { place(std::move(row)); });
    }

    void expect(qint32 count)
    {
        m_toRead = count;
        m_status.setProgressMaximum(count);
    }
    void add(const ArrivedHeader &arrived, const ListedMessage &listed);
    void show();
    // Every row read in its folder: the last show() of a fetch.
    void showAll();
    qint32 read() const { return m_read; }

private:
    void place(MessageEntry &&entry);
    void showPlaced();

    RunStatus &m_status;
    MessageRows &m_inbox;
    MessageRows &m_recycle;
    const MessageClassifier &m_classify;
    bool m_keepHeaderBlocks;
    SizeTexts m_sizeTexts;
    QHash<QString, QString> m_reasonTexts;
    PackedHeader::Packer m_packer; // one compressor state for every row
    QList<MessageEntry> m_newInbox, m_newRecycle;
    std::unique_ptr<SortingAhead> m_sorting; // where the classifier has a part to run beside the reading
    static constexpr qsizetype kBatchRows = 8192;
    qint32 m_read = 0;
    qint32 m_readShown = 0;
    qint32 m_toRead = 0;
};

void FetchedRows::add(const ArrivedHeader &arrived, const ListedMessage &listed)
{
    MessageEntry entry;
    // A refused header leaves the row's texts empty: keep it, never filter it.
    // The reply is read as it came, bytes, never made text whole.
    const QByteArrayView reply(arrived.header);
    if (!arrived.refused) {
        HeaderScan::ShownFields shown = HeaderScan::shownFields(reply);
        entry.sender = std::move(shown.from);
        entry.subject = std::move(shown.subject);
        entry.date = std::move(shown.date);
        entry.priority = std::move(shown.priority);
        if (m_keepHeaderBlocks) // the digest that confirms a deletion is taken from it then
            entry.setHeaderBlock(HeaderDigest::blockOfReply(reply), m_packer);
    }
    entry.number = listed.number;
    entry.key = listed.key;
    entry.uid = listed.uid;
    // A size the server did not list stays unknown (-1): it is no 0 bytes.
    if (arrived.sized && arrived.bytes >= 0) {
        entry.bytes = arrived.bytes;
        entry.size = m_sizeTexts.text(arrived.bytes);
    }
    // Sorted once the listed size is known: size rules go by it.
    m_read = qMax(m_read, qint32(arrived.index + 1));
    if (arrived.refused) {
        // Behind the rows still being judged: rows keep the order read.
        if (m_sorting)
            m_sorting->add(std::move(entry), {});
        else
            place(std::move(entry));
        return;
    }
    entry.sortReason = m_classify.sortFirst(entry.sender, reply, entry.bytes);
    if (m_sorting)
        m_sorting->add(std::move(entry), arrived.header);
    else
        place(std::move(entry));
}

void FetchedRows::place(MessageEntry &&entry)
{
    // Many rows give the same reasons in words: one copy each, made here
    // rather than kept from the worker thread that made them (whose memory
    // would stay taken for as long as the rows are).
    if (!entry.sortReason.reasons.isEmpty()) {
        QStringList shared;
        shared.reserve(entry.sortReason.reasons.size());
        for (const QString &text : std::as_const(entry.sortReason.reasons)) {
            auto found = m_reasonTexts.constFind(text);
            if (found == m_reasonTexts.constEnd())
                found = m_reasonTexts.insert(text, QString(text.constData(), text.size()));
            shared.append(*found);
        }
        entry.sortReason.reasons = std::move(shared);
    }
    const bool filtered = entry.sortReason.sendsToRecycleBin();
    entry.iconKey = filtered ? QStringLiteral("recycle") : QStringLiteral("inbox");
    (filtered ? m_newRecycle : m_newInbox).append(std::move(entry));
    // A fast link brings a folder's rows faster than the waits come: handed
    // on in bounded batches, they are never held twice in bulk.
    if (m_newInbox.size() + m_newRecycle.size() >= kBatchRows)
        showPlaced();
}

void FetchedRows::show()
{
    if (m_sorting)
        m_sorting->handOnDone();
    showPlaced();
}

void FetchedRows::showAll()
{
    if (m_sorting)
        m_sorting->finish();
    showPlaced();
}

void FetchedRows::showPlaced()
{
    if (!m_newInbox.isEmpty()) {
        m_inbox.appendRows(std::exchange(m_newInbox, {}));
        m_status.setNodeText(QStringLiteral("Inbox"), QStringLiteral("Inbox (%1)").arg(m_inbox.count()));
    }
    if (!m_newRecycle.isEmpty()) {
        m_recycle.appendRows(std::exchange(m_newRecycle, {}));
        m_status.setNodeText(QStringLiteral("Recycle Bin"), QStringLiteral("Recycle Bin (%1)").arg(m_recycle.count()));
    }
    if (m_read != m_readShown) {
        m_readShown = m_read;
        m_status.setStatusText(QStringLiteral("Fetched %1 of %2").arg(m_read).arg(m_toRead));
        m_status.setProgressValue(m_read);
    }
}

// A connection or login that failed: nothing was read.
MailResult notOpened(RunStatus &status, MailboxSession &mailbox, CancelFlag &cancel, MailResult opened)
{
    mailbox.close();
    if (opened.kind == MailOutcome::Cancelled)
        status.setStatusText(QStringLiteral("Fetch cancelled: no messages read"));
    status.setProgressValue(0);
    if (cancel.isSet())
        opened.kind = MailOutcome::Cancelled;
    return opened;
}

// Lists the mailbox and reads every header; the listing's note goes to
// `disagreement`, the number listed to `total`. With `thenCommit` the
// session ends right after the reading.
MailResult readMailbox(MailboxSession &mailbox, FetchedRows &rows, QString &disagreement, qint64 &total,
                       bool thenCommit)
{
    MailboxListing listing;
    const MailResult listed = mailbox.list(listing);
    total = listing.size();
    disagreement = listing.disagreement;
    if (!listed.ok() || total == 0)
        return listed;
    rows.expect(qint32(total));
    if (thenCommit)
        mailbox.commitAfterReading();
    MailResult read = mailbox.readHeaders(listing, [&rows, &listing](const ArrivedHeader &arrived) {
        rows.add(arrived, arrived.listed ? *arrived.listed : listing.at(arrived.index));
        return true;
    });
    // What a reading that ended well has to say (messages it could not
    // read) joins what the listing said.
    if (read.ok() && read.hasMessage()) {
        disagreement = disagreement.isEmpty() ? read.text : disagreement + QStringLiteral("; ") + read.text;
        read.text.clear();
    }
    return read;
}

} // namespace

MailResult FetchHeader(RunStatus &status, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                       MailboxSession &mailbox, CancelFlag &cancel, bool keepHeaderBlocks, QString *listingNote,
                       SessionEnd end)
{
    FetchedRows rows(status, inbox, recycle, classify, keepHeaderBlocks);
    QObject context;
    QObject::connect(&mailbox, &MailboxSession::aboutToWait, &context, [&rows] { rows.show(); });
    try {
        mailbox.listAfterOpening();
        if (MailResult opened = mailbox.open(); !opened.ok())
            return notOpened(status, mailbox, cancel, std::move(opened));
        QString disagreement;
        qint64 total = 0;
        MailResult result = readMailbox(mailbox, rows, disagreement, total, end == SessionEnd::Commit);
        rows.showAll();
        // After a Cancel nothing is lost when the server does not finish
        // answering: the session just closes, and the end says so.
        const bool cancelled = cancel.isSet();
        bool failed = !result.ok() && result.kind != MailOutcome::Cancelled;
        // Only a fetch that ended well stays open for what follows.
        const bool leftOpen = end == SessionEnd::LeaveOpen && result.ok() && !cancelled;
        if (!failed && !leftOpen) {
            MailResult committed = mailbox.commit();
            if (!committed.ok() && committed.kind != MailOutcome::Cancelled) {
                failed = true;
                result = std::move(committed);
            }
        }
        if (!leftOpen)
            mailbox.close();
        if (cancelled)
            status.setStatusText(QStringLiteral("Fetch cancelled: %1 of %2 messages read").arg(rows.read()).arg(total));
        else if (!disagreement.isEmpty() && !failed)
            status.setStatusText(QStringLiteral("Fetched %1 of %2; %3").arg(rows.read()).arg(total).arg(disagreement));
        if (listingNote)
            *listingNote = disagreement;
        status.setProgressValue(0);
        if (cancelled)
            return MailResult::cancelled();
        return failed ? result : MailResult::done();
    } catch (const std::exception &e) {
        rows.showAll(); // the rows read before the failure are kept
        mailbox.close();
        status.setProgressValue(0);
        return MailResult::failure(MailOutcome::Failed, QStringLiteral("Error"), QString::fromLocal8Bit(e.what()));
    }
}

MailResult FetchHeader(RunStatus &status, MessageRows &inbox, MessageRows &recycle, const MessageClassifier &classify,
                       const ProfileSettingsRecord &settings, CancelFlag &cancel, SessionOptions options,
                       QString *listingNote)
{
    if (!settings.isConfigured())
        return MailResult::failure(MailOutcome::NotConfigured, QStringLiteral("Email Setting Error"),
                                   QStringLiteral("Email Setting not configured"))
            .advising(MailReason::NotConfigured, protocolsOf(options).of(settings).serverWords);
    const bool keepHeaderBlocks = options.keepHeaderBlocks;
    const auto mailbox = mailboxFor(status, settings, cancel, std::move(options));
    return FetchHeader(status, inbox, recycle, classify, *mailbox, cancel, keepHeaderBlocks, listingNote);
}
