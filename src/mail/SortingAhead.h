#pragma once

#include "MessageClassifier.h"
#include "MessageEntry.h"

#include <QByteArray>
#include <QList>
#include <QThreadPool>
#include <deque>
#include <functional>
#include <future>
#include <memory>

// The rows of a fetch on their way to the folders, where the classifier has
// a second part (MessageClassifier::judgeLater): that part judges the rows the
// rules left undecided on worker threads, a batch at a time, while the
// fetch reads on. Rows come out in the order they went in, each sorted in
// full. At most a few batches' rows are in flight: a fetch that reads faster
// than they are judged waits for the oldest.
class SortingAhead {
public:
    // Rows whose sorting is done are handed to `take`, in the order added.
    using Take = std::function<void(MessageEntry &&)>;
    SortingAhead(const MessageClassifier &classify, Take take);
    ~SortingAhead(); // waits for the batches in flight
    SortingAhead(const SortingAhead &) = delete;
    SortingAhead &operator=(const SortingAhead &) = delete;

    // A row the first part sorted; `header` is what the second part reads
    // when it is to judge the row (none: a row it cannot judge, kept in its
    // place). Rows of batches already judged go on.
    void add(MessageEntry entry, const QByteArray &header);
    // Sends the rows gathered so far on their way, and hands on those judged.
    void handOnDone();
    // Waits for every row and hands all on.
    void finish();

    static constexpr qsizetype kBatchRows = 256;
    qsizetype maxRowsInFlight() const { return m_maxRowsInFlight; }

private:
    struct Batch {
        QList<MessageEntry> rows;
        QList<QByteArray> headers; // by row; empty where the first part decided
        qsizetype toJudge = 0;
        std::future<void> judged; // not valid when there was nothing to judge
    };
    void send();
    static bool isDone(const Batch &batch);
    void handOnFront();
    void handOnJudged();

    const MessageClassifier &m_classify;
    Take m_take;
    std::unique_ptr<Batch> m_open;
    std::deque<std::unique_ptr<Batch>> m_sent;
    qsizetype m_maxRowsInFlight;
    qsizetype m_rowsInFlight = 0; // in the batches sent and not yet handed on
    QThreadPool m_pool; // last: its end waits for the work that reads the batches
};
