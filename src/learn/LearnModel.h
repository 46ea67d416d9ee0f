#pragma once

#include "HeaderTokens.h"
#include "LearnedVerdict.h"
#include "TokenIndex.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QVarLengthArray>
#include <memory>

// How often each token was seen in the user's spam and good mail, and the
// verdict a new message gets from two views of the same lessons: the counts,
// as Robinson's smoothed token probabilities combined by Fisher's chi-square
// method, and a weight per token, trained by logistic regression one lesson
// at a time. The counts know each token on its own; the weights learn which
// tokens decide when they come together, and follow the newest lessons more.
class LearnModel {
public:
    struct Counts {
        quint32 spam = 0;
        quint32 ham = 0;
        qint32 day = 0; // the day (since the epoch) of the last lesson that held it
        // In units of 1 / kWeightUnit: whole numbers, so that a lesson taken
        // back takes back exactly the step it gave.
        qint32 weight = 0;
        bool operator==(const Counts &) const = default;
    };
    static constexpr double kWeightUnit = 65536;
    struct Params {
        // Set by bench_learn --tune, on the training split alone (the spam
        // cutoff: the stricter of its two folds at 0.1 % false positives;
        // the weights' rate and margin: the best pair over both folds and
        // the split read in date order).
        double strength = 0.3; // how much a rare token leans to `unknown`
        double unknown = 0.5;
        double minDeviation = 0.2; // tokens nearer 0.5 than this are left out
        int maxTokens = 30; // the strongest this many speak
        double spamCutoff = 0.781; // at or above: spam
        double hamCutoff = 0.2; // below: good; between: unsure
        quint32 minLessons = 5; // of each kind before any verdict
        double weightRate = 0.2; // the weights' step on a lesson they got wrong
        // A lesson the weights already give this many log odds the right
        // way teaches them nothing more: they keep room for the hard ones.
        double weightMargin = 1.0;
    };

    LearnModel() = default;
    explicit LearnModel(const Params &params)
        : m_params(params)
        , m_cutoffs(cutoffsOf(params))
    {
    }

    const Params &params() const { return m_params; }
    void setParams(const Params &params)
    {
        m_index.reset();
        m_params = params;
        m_cutoffs = cutoffsOf(params);
    }

    // One message's tokens as spam or good mail; `day` stamps them. Returns
    // the step the weights took, for unlearn() to take back.
    qint32 learn(const TokenList &tokens, bool spam, qint32 day);
    // Takes one earlier lesson back, and the weights' `step` of it; counts
    // never go below zero.
    void unlearn(const TokenList &tokens, bool spam, qint32 step);

    // The verdict's score, 0 (good) to 1 (spam); 0.5 when there is no evidence.
    double score(const TokenList &tokens) const;
    // The same as log odds, log(score / (1 - score)): the weights' log odds
    // averaged with a third of the counts'. Fisher's combining is sure of
    // itself far beyond what it knows; a third brings it near the weights'.
    double logOdds(const TokenList &tokens) const;
    // The counts' view alone, as score and as log odds, which keep ranking
    // messages where the score itself has rounded to 0 or 1.
    double countsScore(const TokenList &tokens) const;
    double countsLogOdds(const TokenList &tokens) const;
    // The weights' view alone, as log odds.
    double weightsLogOdds(const TokenList &tokens) const;
    static double logOddsOf(double score);
    // The verdict with its three strongest reasons; Kind::None until enough
    // of both kinds has been learned.
    LearnedVerdict verdict(const TokenList &tokens) const;

    quint32 spamMessages() const { return m_spam; }
    quint32 hamMessages() const { return m_ham; }
    const QHash<quint64, Counts> &tokens() const { return m_tokens; }
    qsizetype tokenCount() const { return m_tokens.size(); }

    // The store's side: counts as read, and the tokens changed since the
    // last save.
    void setTotals(quint32 spam, quint32 ham);
    void insert(quint64 token, const Counts &counts)
    {
        m_index.reset();
        m_tokens.insert(token, counts);
    }
    void remove(quint64 token)
    {
        m_index.reset();
        m_tokens.remove(token);
    }
    // Lays the counts out for quick verdicts, until they next change: for a
    // model that judges many messages between lessons (a check).
    void prepareLookups();
    const QSet<quint64> &changed() const { return m_changed; }
    void clearChanged() { m_changed.clear(); }

    // The token's smoothed probability of spam.
    double probability(const Counts &counts) const;

private:
    struct Evidence {
        TokenIndex::Logs logs;
        quint32 seen;
        qsizetype index; // in the message's TokenList
    };
    // What a token's counts say, the same for the table and for counts read
    // directly, so that both judge alike.
    TokenIndex::Entry entryOf(quint64 id, const Counts &counts) const;
    // On the stack for a typical header: one is gathered per verdict.
    using EvidenceList = QVarLengthArray<Evidence, 256>;
    // The tokens that speak, strongest first when there are more than
    // maxTokens; and the sum of the message's weights.
    EvidenceList evidence(const TokenList &tokens, double *weights = nullptr) const;
    struct Combined {
        double score;
        double logOdds;
    };
    static Combined combine(const EvidenceList &evidence);
    static double weightsLogOddsOf(double weights, qsizetype tokens);
    // The verdict's log odds, with the evidence the counts gave.
    double judged(const TokenList &tokens, EvidenceList *found) const;
    static double blended(double counts, double weights);

    // The cutoffs as log odds, which verdicts compare with.
    struct Cutoffs {
        double spam;
        double good;
    };
    static Cutoffs cutoffsOf(const Params &params)
    {
        return {logOddsOf(params.spamCutoff), logOddsOf(params.hamCutoff)};
    }

    Params m_params;
    Cutoffs m_cutoffs = cutoffsOf(m_params);
    QHash<quint64, Counts> m_tokens;
    QSet<quint64> m_changed;
    // Built by prepareLookups(), dropped by any change; shared by copies (a
    // copy is taken before each lesson, to go back to on failure).
    std::shared_ptr<const TokenIndex> m_index;
    quint32 m_spam = 0;
    quint32 m_ham = 0;
};
