#include "ServerRulesNote.h"

#include "CurrentProfile.h"
#include "ProfileKeys.h"
#include "RuleDatabase.h"
#include "RuleLists.h"
#include "ServerRules.h"
#include "SettingsStore.h"

#include <QAction>
#include <QFutureWatcher>
#include <QStandardItemModel>
#include <QtConcurrent/QtConcurrentRun>

using namespace modRegistry;

namespace {

// Beside the profile's settings, so that they go with the profile.
const QString kDigest = QStringLiteral("SieveUploadedDigest");
const QString kExtensions = QStringLiteral("SieveExtensions");
// Stands for a server copy known to differ from what the rules say.
const QString kStale = QStringLiteral("-");

} // namespace

const QString ServerRulesNote::kOutOfDateText = QStringLiteral("Rules on the server are out of date");

ServerRulesNote::ServerRulesNote(RuleLists &rules, CurrentProfile &profile, std::function<void(const QString &)> show,
                                 QObject *parent)
    : QObject(parent)
    , m_rules(rules)
    , m_profile(profile)
    , m_show(std::move(show))
{
    m_later.setSingleShot(true);
    m_later.setInterval(0);
    connect(&m_later, &QTimer::timeout, this, &ServerRulesNote::check);
    for (QStandardItemModel *model : {m_rules.filterModel(), m_rules.exemptedModel()}) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &ServerRulesNote::schedule);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &ServerRulesNote::schedule);
        connect(model, &QAbstractItemModel::dataChanged, this, &ServerRulesNote::schedule);
        connect(model, &QAbstractItemModel::modelReset, this, &ServerRulesNote::schedule);
    }
    connect(&m_profile, &CurrentProfile::changed, this, &ServerRulesNote::schedule);
}

void ServerRulesNote::watch(QAction *action)
{
    connect(action, &QAction::triggered, this, &ServerRulesNote::schedule);
}

void ServerRulesNote::schedule()
{
    if (!m_later.isActive()) // a list filled row by row asks once per row
        m_later.start();
}

QString ServerRulesNote::remember(const QString &profile, const ServerRules::Report &report)
{
    if (profile.isEmpty() || !report.reached || !report.outcome.result.ok())
        return {};
    QString digest;
    switch (report.outcome.status.state) {
    case SieveUpload::State::UpToDate:
        digest = report.script.digest;
        break;
    case SieveUpload::State::OutOfDate:
        digest = kStale;
        break;
    default:
        break; // nothing of Trelvik's to keep current there
    }
    const QString key = kSettingKeyPrefix + profile;
    QString error;
    const QString extensions = digest.isEmpty() ? QString() : report.extensions.join(u' ');
    if (!WriteStoreValues(HKEY_CURRENT_USER, {{key, kDigest, digest}, {key, kExtensions, extensions}}, &error))
        return error;
    schedule();
    return {};
}

void ServerRulesNote::check()
{
    const int round = ++m_round;
    const QString key = kSettingKeyPrefix + m_profile.name();
    const QString uploaded = m_profile.name().isEmpty() ? QString()
                                                        : ReadStoreValue(HKEY_CURRENT_USER, key, kDigest, {});
    if (uploaded.isEmpty() || uploaded == kStale)
        return settle(uploaded.isEmpty() ? QString() : kOutOfDateText);
    const std::optional<QStringList> filter = m_rules.database().FillRules(QStringLiteral("tbfilter"));
    const std::optional<QStringList> exempted = m_rules.database().FillRules(QStringLiteral("tbexempted"));
    if (!filter || !exempted)
        return settle({});
    const QStringList extensions =
        ReadStoreValue(HKEY_CURRENT_USER, key, kExtensions, {}).split(u' ', Qt::SkipEmptyParts);
    const SieveScript::Options options = ServerRules::scriptOptions(m_profile.settings(), extensions);
    // The script of a large database takes a while to make: on a worker,
    // and only the newest check's answer counts.
    auto *watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, round] {
        watcher->deleteLater();
        if (round == m_round)
            settle(watcher->result() ? QString() : kOutOfDateText);
    });
    watcher->setFuture(QtConcurrent::run([filter = *filter, exempted = *exempted, options, uploaded] {
        return SieveScript::generate(filter, exempted, options).digest == uploaded;
    }));
}

void ServerRulesNote::settle(const QString &text)
{
    if (text != m_text) {
        m_text = text;
        m_show(m_text);
    }
    Q_EMIT checked();
}
