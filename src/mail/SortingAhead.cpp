#include "SortingAhead.h"

#include <QThread>
#include <chrono>

SortingAhead::SortingAhead(const MessageClassifier &classify, Take take)
    : m_classify(classify)
    , m_take(std::move(take))
    , m_open(std::make_unique<Batch>())
    , m_maxRowsInFlight(2 * std::max(1, QThread::idealThreadCount()) * kBatchRows)
{
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

SortingAhead::~SortingAhead()
{
    m_pool.waitForDone();
}

void SortingAhead::add(MessageEntry entry, const QByteArray &header)
{
    const bool judge = !header.isEmpty() && m_classify.leavesToLater(entry.sortReason);
    m_open->headers.append(judge ? header : QByteArray());
    m_open->toJudge += judge;
    m_open->rows.append(std::move(entry));
    if (m_open->rows.size() < kBatchRows)
        return;
    send();
    handOnJudged();
}

void SortingAhead::send()
{
    if (m_open->rows.isEmpty())
        return;
    Batch *batch = m_open.get();
    if (batch->toJudge > 0) {
        auto promise = std::make_shared<std::promise<void>>();
        batch->judged = promise->get_future();
        const MessageClassifier *classify = &m_classify;
        m_pool.start([batch, classify, promise] {
            for (qsizetype i = 0; i < batch->rows.size(); ++i) {
                if (batch->headers.at(i).isEmpty())
                    continue;
                // A judgement that fails leaves the rules' word: the row is kept.
                try {
                    if (std::optional<SortReason> judged = classify->judgeLater(batch->headers.at(i)))
                        batch->rows[i].sortReason = std::move(*judged);
                } catch (...) {
                }
            }
            batch->headers.clear();
            promise->set_value();
        });
    }
    m_rowsInFlight += batch->rows.size();
    m_sent.push_back(std::exchange(m_open, std::make_unique<Batch>()));
    // Bounded: a reading faster than the judging waits for the oldest.
    while (m_rowsInFlight > m_maxRowsInFlight)
        handOnFront();
}

bool SortingAhead::isDone(const Batch &batch)
{
    return !batch.judged.valid() || batch.judged.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

void SortingAhead::handOnFront()
{
    std::unique_ptr<Batch> batch = std::move(m_sent.front());
    m_sent.pop_front();
    m_rowsInFlight -= batch->rows.size();
    if (batch->judged.valid())
        batch->judged.wait();
    for (MessageEntry &row : batch->rows)
        m_take(std::move(row));
}

void SortingAhead::handOnDone()
{
    send();
    handOnJudged();
}

void SortingAhead::handOnJudged()
{
    while (!m_sent.empty() && isDone(*m_sent.front()))
        handOnFront();
}

void SortingAhead::finish()
{
    send();
    while (!m_sent.empty())
        handOnFront();
}
