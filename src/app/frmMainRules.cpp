// The main window's commands on many rules at once: importing and exporting
// rule files, and adding the marks servers put on spam.
#include "frmMain.h"

#include "ListViewWidget.h"
#include "MessageBox.h"
#include "RuleFile.h"
#include "RuleLists.h"
#include "ServerSpamMarks.h"
#include "StatusBarWidget.h"

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

void frmMain::refillShownRuleList()
{
    if (lsvFilter->isVisibleTo(this))
        guarded([this] { m_rules->fillFilterList(); });
    else if (lsvExempted->isVisibleTo(this))
        guarded([this] { m_rules->fillExemptedList(); });
}

void frmMain::mnuFilterSpamMarks_Click()
{
    int added = 0;
    guarded([&] { added = ServerSpamMarks::addTo(*m_rules); });
    if (added == 0) {
        setStatusText(QStringLiteral("The Filter List already holds the server spam marks"));
    } else {
        // Sorted again as by any new filter rule: exempted mail stays.
        const int moved = recheckInbox();
        setStatusText(QStringLiteral("%1 server spam %2 added to the Filter List; %3")
                          .arg(added)
                          .arg(added == 1 ? QStringLiteral("mark") : QStringLiteral("marks"),
                               movedText(moved, QStringLiteral("Recycle Bin"))));
    }
    StatusBar1->announce();
}

void frmMain::mnuImportRules_Click()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Import Rules"), startFolder(),
                                                      kRuleFileFilter);
    if (!path.isEmpty())
        importRulesFrom(path);
}

void frmMain::mnuExportRules_Click()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export Rules"), QDir(startFolder()).filePath(QStringLiteral("trelvik-rules.txt")),
        kRuleFileFilter);
    if (!path.isEmpty())
        exportRulesTo(path);
}

void frmMain::importRulesFrom(const QString &path)
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
    const int toRecycleBin = report->addedFilter > 0 ? recheckInbox() : 0;
    const int toInbox = report->addedExempted > 0 ? recheckRecycleBin() : 0;
    if (toRecycleBin > 0)
        outcome << movedText(toRecycleBin, QStringLiteral("Recycle Bin"));
    if (toInbox > 0)
        outcome << movedText(toInbox, QStringLiteral("Inbox"));
    if (toRecycleBin + toInbox == 0 && report->addedFilter + report->addedExempted > 0)
        outcome << movedText(0, QString());
    setStatusText(outcome.join(QStringLiteral("; ")));
    StatusBar1->announce();
    MessageBox::show(QStringLiteral("Rules imported from \"%1\":\r\n%2")
                         .arg(QDir::toNativeSeparators(path), RuleFile::reportText(*report)),
                     QStringLiteral("Import Rules"),
                     report->refused > 0 || !report->warnings.isEmpty() ? MessageBox::Icon::Exclamation : MessageBox::Icon::Information);
}

bool frmMain::exportRulesTo(const QString &path)
{
    QString error;
    if (!RuleFile::exportRules(m_ruleDb, path, &error)) {
        MessageBox::show(error + QStringLiteral("\r\nNo rule was exported."), QStringLiteral("Export Rules"),
                         MessageBox::Icon::Critical);
        return false;
    }
    setStatusText(QStringLiteral("Rules exported to ") + QDir::toNativeSeparators(path));
    StatusBar1->announce();
    return true;
}
