// The learned classifier on real mail, headers only: recall at fixed false
// positive rates on a split by time and read in the order mail came, the
// shipped threshold's errors, and its cost. Prints "BENCH learn_* value unit".
//   bench_learn          the figures
//   bench_learn --real   only the cost on headers of today's size
//   bench_learn --tune   parameter sweeps over the training split alone, split
//                        again by date both ways (see tune())
#include "HeaderTokens.h"
#include "LearnFigures.h"
#include "LearnModel.h"
#include "LearnStore.h"
#include "RealMailbox.h"
#include "RuleDatabase.h"
#include "SpamCorpus.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

struct Sample {
    TokenList tokens;
    bool spam;
    bool hard;
    QDateTime date;
    QString group;
};

// Processor time of this thread: the machine may be busy with other work.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void print(const char *name, double value, const char *unit)
{
    std::printf("BENCH %s %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

bool isTraining(const CorpusMessage &m, int hardIndex, int hardCount)
{
    if (m.group == u"hard-ham-1")
        return hardIndex < hardCount / 2;
    return m.group.endsWith(u"-1");
}

struct Scores {
    QList<double> ham, spam, hard;
};

Scores scoreAll(const LearnModel &model, const QList<Sample> &test)
{
    Scores s;
    for (const Sample &sample : test) {
        const double score = model.logOdds(sample.tokens);
        (sample.spam ? s.spam : s.ham).append(score);
        if (sample.hard)
            s.hard.append(score);
    }
    return s;
}

// How well the scores rank spam above good mail: recall at 0.1 % and 1 %
// false positives, and the area above the ROC curve.
void printRanking(const Scores &s)
{
    std::printf(" r@0.1=%.1f r@1=%.1f 1-roca=%.3f", LearnFigures::recallAtFpr(s.ham, s.spam, 0.001),
                LearnFigures::recallAtFpr(s.ham, s.spam, 0.01), LearnFigures::rocAreaAbove(s.ham, s.spam));
}

void tuneLine(const LearnModel &model, const QList<Sample> &scored, const char *name)
{
    Scores s;
    for (const Sample &sample : scored)
        (sample.spam ? s.spam : s.ham).append(model.logOdds(sample.tokens));
    const LearnModel::Params &p = model.params();
    // The cutoff that would have kept good mail's false positives to 0.1 %
    // here: the shipped one is chosen from these, on the training split.
    std::sort(s.ham.begin(), s.ham.end());
    const double cut = s.ham.isEmpty() ? 0 : s.ham.at(std::min(s.ham.size() - 1, qsizetype(s.ham.size() * 0.999)));
    std::printf("%s s=%.2f dev=%.2f max=%d", name, p.strength, p.minDeviation, p.maxTokens);
    printRanking(s);
    std::printf(" cut@0.1=%.6f\n", 1 / (1 + std::exp(-cut)));
}

// Lessons come as the mail did: the weights follow the newest more.
QList<Sample> byDate(QList<Sample> samples)
{
    std::stable_sort(samples.begin(), samples.end(), [](const Sample &a, const Sample &b) { return a.date < b.date; });
    return samples;
}

// The shipped parameters first, then the sweep.
void tuneFold(const QList<Sample> &teach, const QList<Sample> &scored, const char *name)
{
    LearnModel model;
    for (const Sample &sample : byDate(teach))
        model.learn(sample.tokens, sample.spam, 0);
    tuneLine(model, scored, name);
    for (const double strength : {0.03, 0.1, 0.3, 1.0}) {
        for (const double dev : {0.0, 0.2}) {
            for (const int maxTokens : {20, 30, 50, 80, 150}) {
                LearnModel::Params p;
                p.strength = strength;
                p.minDeviation = dev;
                p.maxTokens = maxTokens;
                model.setParams(p);
                tuneLine(model, scored, name);
            }
        }
    }
}

// Every message in date order, classified first and then learned with its
// true label.
Scores onlineScores(const QList<Sample> &all, const LearnModel::Params &params = {})
{
    LearnModel model(params);
    Scores s;
    for (const Sample &sample : byDate(all)) {
        (sample.spam ? s.spam : s.ham).append(model.logOdds(sample.tokens));
        model.learn(sample.tokens, sample.spam, 0);
    }
    return s;
}

// The weights' rate and margin: each pair learns anew, in both folds and
// online over the training split.
void tuneWeights(const QList<Sample> &train, const QList<std::pair<QList<Sample>, QList<Sample>>> &folds)
{
    for (const double rate : {0.1, 0.2, 0.3}) {
        for (const double margin : {0.5, 1.0, 2.0}) {
            LearnModel::Params p;
            p.weightRate = rate;
            p.weightMargin = margin;
            std::printf("weights rate=%.1f margin=%.1f", rate, margin);
            for (const auto &[teach, scored] : folds) {
                LearnModel model(p);
                for (const Sample &sample : byDate(teach))
                    model.learn(sample.tokens, sample.spam, 0);
                printRanking(scoreAll(model, scored));
            }
            std::printf(" online");
            printRanking(onlineScores(train, p));
            std::printf("\n");
        }
    }
}

// Each group of the training split by date: its older two thirds teach and
// the newer third is scored, then its newer two thirds teach and the older
// third is scored. Mail drifts with time, and only a split by time shows how
// much.
void tune(const QList<Sample> &train)
{
    QList<Sample> older, newer, early, late;
    for (const char16_t *group : {u"easy-ham-1", u"hard-ham-1", u"spam-1"}) {
        QList<Sample> inGroup;
        std::copy_if(train.begin(), train.end(), std::back_inserter(inGroup),
                     [&](const Sample &s) { return s.group == QStringView(group); });
        const QList<Sample> dated = byDate(inGroup);
        const qsizetype third = dated.size() / 3;
        older += dated.first(dated.size() - third);
        newer += dated.last(third);
        early += dated.first(third);
        late += dated.last(dated.size() - third);
    }
    tuneFold(older, newer, "forward");
    tuneFold(late, early, "backward");
    tuneWeights(train, {{older, newer}, {late, early}});
}

void online(const QList<Sample> &all)
{
    const Scores s = onlineScores(all);
    print("learn_online_recall_at_fpr_0_1", LearnFigures::recallAtFpr(s.ham, s.spam, 0.001), "%");
    print("learn_online_recall_at_fpr_1", LearnFigures::recallAtFpr(s.ham, s.spam, 0.01), "%");
    std::printf("# online, the area above the ROC curve: %.3f %%\n", LearnFigures::rocAreaAbove(s.ham, s.spam));
}

void databaseSize(const QList<CorpusMessage> &messages)
{
    QTemporaryDir dir;
    RuleDatabase db(dir.path());
    QString error;
    if (!db.OpenRuleDatabase(&error)) {
        std::printf("# the database did not open: %s\n", qPrintable(error));
        return;
    }
    const double start = cpuSeconds();
    LearnStore store(db, QStringLiteral("bench"));
    std::optional<LearnModel> model = store.load(&error);
    if (model) {
        for (const CorpusMessage &m : messages)
            model->learn(HeaderTokens::of(m.header), m.spam, 20000);
    }
    if (!model || !store.save(*model, &error)) {
        std::printf("# the lessons were not stored: %s\n", qPrintable(error));
        return;
    }
    print("learn_train_6k_s", cpuSeconds() - start, "s");
    db.CloseRuleDatabase();
    print("learn_db_mb", double(QFileInfo(db.databasePath()).size()) / (1024.0 * 1024.0), "MB");
}

// The cost a check pays per message of real size (headers of 2 to 8 KB,
// signed and relayed as today's mail is), with the profile's lessons from
// messages of the same kind: what the learning adds to a check.
void realSizedCost()
{
    constexpr int kLessons = 2'000;
    constexpr int kChecked = 20'000;
    LearnModel model;
    QList<QByteArray> headers;
    for (int i = 1; i <= kLessons + kChecked; ++i) {
        const QByteArray message = RealMailbox::message(i);
        const QByteArray header = message.first(message.indexOf("\r\n\r\n") + 4);
        if (i <= kLessons)
            model.learn(HeaderTokens::of(header), RealMailbox::isSpam(i), 0);
        else
            headers.append(header);
    }
    model.prepareLookups();
    double tokenizing = 0, total = 0;
    int spam = 0;
    for (int pass = 0; pass < 3; ++pass) {
        double start = cpuSeconds();
        for (const QByteArray &header : headers)
            spam += HeaderTokens::of(header).size() < 0;
        const double tokens = cpuSeconds() - start;
        start = cpuSeconds();
        for (const QByteArray &header : headers)
            spam += model.verdict(HeaderTokens::of(header)).kind == LearnedVerdict::Kind::Spam;
        const double all = cpuSeconds() - start;
        tokenizing = pass == 0 ? tokens : std::min(tokenizing, tokens);
        total = pass == 0 ? all : std::min(total, all);
    }
    std::printf("# of %d real-sized headers, %d judged spam in the last pass\n", kChecked, spam / 3);
    print("learn_tokenize_real_us", tokenizing * 1e6 / kChecked, "us");
    print("learn_classify_real_us", total * 1e6 / kChecked, "us");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--real"))) {
        realSizedCost();
        return 0;
    }
    const QString folder = SpamCorpus::folder();
    if (folder.isEmpty()) {
        std::printf("# the corpus is missing: bench/run learn installs it\n");
        return 0;
    }
    const QList<CorpusMessage> messages = SpamCorpus::load(folder);
    QList<Sample> train, test, all;
    int hardIndex = 0;
    const auto hardCount = std::count_if(messages.begin(), messages.end(),
                                         [](const CorpusMessage &m) { return m.group == u"hard-ham-1"; });
    for (const CorpusMessage &m : messages) {
        const bool hard = m.group == u"hard-ham-1";
        const Sample sample{HeaderTokens::of(m.header), m.spam, hard, m.date, m.group};
        (isTraining(m, hardIndex, int(hardCount)) ? train : test).append(sample);
        all.append(sample);
        hardIndex += hard;
    }
    std::printf("# %lld messages: %lld to learn from, %lld to test\n", qlonglong(messages.size()),
                qlonglong(train.size()), qlonglong(test.size()));
    if (app.arguments().contains(QStringLiteral("--tune"))) {
        tune(train);
        return 0;
    }
    LearnModel model;
    for (const Sample &sample : byDate(train))
        model.learn(sample.tokens, sample.spam, 0);
    const Scores s = scoreAll(model, test);
    print("learn_time_recall_at_fpr_0_1", LearnFigures::recallAtFpr(s.ham, s.spam, 0.001), "%");
    print("learn_time_recall_at_fpr_1", LearnFigures::recallAtFpr(s.ham, s.spam, 0.01), "%");
    std::printf("# by time, the area above the ROC curve: %.3f %%\n", LearnFigures::rocAreaAbove(s.ham, s.spam));
    online(all);
    const double cutoff = LearnModel::logOddsOf(model.params().spamCutoff);
    print("learn_default_fpr", LearnFigures::percentAtOrAbove(s.ham, cutoff), "%");
    print("learn_default_recall", LearnFigures::percentAtOrAbove(s.spam, cutoff), "%");
    print("learn_hardham_fpr", LearnFigures::percentAtOrAbove(s.hard, cutoff), "%");
    // The quickest of three passes: the machine may be busy with other work.
    // Laid out for lookups as a loaded profile's counts are.
    model.prepareLookups();
    double best = 0;
    int spam = 0;
    for (int pass = 0; pass < 3; ++pass) {
        const double start = cpuSeconds();
        for (const CorpusMessage &m : messages)
            spam += model.verdict(HeaderTokens::of(m.header)).kind == LearnedVerdict::Kind::Spam;
        const double took = cpuSeconds() - start;
        best = pass == 0 ? took : std::min(best, took);
    }
    print("learn_classify_us", best * 1e6 / double(messages.size()), "us");
    databaseSize(messages);
    realSizedCost();
    return spam < 0;
}
