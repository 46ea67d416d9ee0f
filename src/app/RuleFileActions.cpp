#include "RuleFileActions.h"

#include "GuardedCommand.h"
#include "ListViewWidget.h"
#include "MessageBox.h"
#include "RuleActions.h"
#include "RuleFile.h"
#include "RuleLists.h"
#include "StatusPane.h"
#include "frmMainMenus.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace {

const QString kRuleFileFilter = QStringLiteral("Rule files (*.txt);;All files (*)");

QString startFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

} // namespace

RuleFileActions::RuleFileActions(RuleDatabase &database, RuleLists &rules, RuleActions &ruleActions,
                                 ListViewWidget *filterView, ListViewWidget *exemptedView, const MainMenus &menus,
                                 StatusPane &status, QWidget *window)
    : QObject(window)
    , m_ruleDb(database)
    , m_rules(rules)
    , m_ruleActions(ruleActions)
    , lsvFilter(filterView)
    , lsvExempted(exemptedView)
    , m_status(status)
    , m_window(window)
{
    connect(menus.mnuImportRules, &QAction::triggered, this, &RuleFileActions::mnuImportRules_Click);
    connect(menus.mnuExportRules, &QAction::triggered, this, &RuleFileActions::mnuExportRules_Click);
}

void RuleFileActions::refillShownRuleList()
{
    if (lsvFilter->isVisibleTo(m_window))
        guarded([this] { m_rules.fillFilterList(); });
    else if (lsvExempted->isVisibleTo(m_window))
        guarded([this] { m_rules.fillExemptedList(); });
}

void RuleFileActions::mnuImportRules_Click()
{
    const QString path = QFileDialog::getOpenFileName(m_window, QStringLiteral("Import Rules"), startFolder(),
                                                      kRuleFileFilter);
    if (!path.isEmpty())
        importRulesFrom(path);
}

void RuleFileActions::mnuExportRules_Click()
{
    const QString path = QFileDialog::getSaveFileName(m_window, QStringLiteral("Export Rules"),
                                                      QDir(startFolder()).filePath(QStringLiteral("trelvik-rules.txt")),
                                                      kRuleFileFilter);
    if (!path.isEmpty())
        exportRulesTo(path);
}

void RuleFileActions::importRulesFrom(const QString &path)
{
    QString error;
    const std::optional<RuleFile::ImportReport> report = RuleFile::importRules(m_ruleDb, path, &error);
    if (!report) {
        MessageBox::show(error, QStringLiteral("Import Rules"), MessageBox::Icon::Critical);
        return;
    }
    refillShownRuleList();
    // The messages are sorted again as after the rule commands: by new
    // filter rules with the exempted list winning, and back to the Inbox by
    // new exempted rules.
    QStringList outcome{QStringLiteral("%1 %2 imported")
                            .arg(report->added)
                            .arg(report->added == 1 ? QStringLiteral("rule") : QStringLiteral("rules"))};
    // Only the moves that happened are named; "No message moved" only when
    // neither list gave up a message.
    const int toRecycleBin = report->addedFilter > 0 ? m_ruleActions.recheckInbox() : 0;
    const int toInbox = report->addedExempted > 0 ? m_ruleActions.recheckRecycleBin() : 0;
    if (toRecycleBin > 0)
        outcome << RuleActions::movedText(toRecycleBin, QStringLiteral("Recycle Bin"));
    if (toInbox > 0)
        outcome << RuleActions::movedText(toInbox, QStringLiteral("Inbox"));
    if (toRecycleBin + toInbox == 0 && report->addedFilter + report->addedExempted > 0)
        outcome << RuleActions::movedText(0, QString());
    m_status.setText(outcome.join(QStringLiteral("; ")));
    m_status.announce();
    MessageBox::show(QStringLiteral("Rules imported from \"%1\":\r\n%2")
                         .arg(QDir::toNativeSeparators(path), RuleFile::reportText(*report)),
                     QStringLiteral("Import Rules"),
                     report->refused > 0 || !report->warnings.isEmpty() ? MessageBox::Icon::Exclamation
                                                                        : MessageBox::Icon::Information);
}

bool RuleFileActions::exportRulesTo(const QString &path)
{
    QString error;
    if (!RuleFile::exportRules(m_ruleDb, path, &error)) {
        MessageBox::show(error + QStringLiteral("\r\nNo rule was exported."), QStringLiteral("Export Rules"),
                         MessageBox::Icon::Critical);
        return false;
    }
    m_status.setText(QStringLiteral("Rules exported to ") + QDir::toNativeSeparators(path));
    m_status.announce();
    return true;
}
