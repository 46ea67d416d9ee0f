#include "RuleActions.h"

#include "GuardedCommand.h"
#include "ListViewWidget.h"
#include "MessageFolderModel.h"
#include "MessageLists.h"
#include "RuleClassifier.h"
#include "RuleLists.h"
#include "ServerSpamMarks.h"
#include "StatusPane.h"
#include "frmMainMenus.h"
#include "frmRuleAdd.h"

#include <QAction>
#include <QMenu>

#include <functional>

namespace {

// From the last row to the first, asking the list itself each time which
// rows are selected: a delete removes the first row with the value (case
// ignored), which need not be the row visited.
void deleteSelectedRules(ListViewWidget *list, const std::function<void(const QString &)> &deleteRule)
{
    QAbstractItemModel *model = list->model();
    for (int row = model->rowCount() - 1; row >= 0; --row) {
        if (row < model->rowCount() && list->selectionModel()->isRowSelected(row, {}))
            deleteRule(model->index(row, 0).data().toString());
    }
}

} // namespace

RuleActions::RuleActions(RuleDatabase &database, RuleLists &rules, MessageLists &messages, ListViewWidget *filterView,
                         ListViewWidget *exemptedView, const MainMenus &menus, StatusPane &status, QWidget *window)
    : QObject(window)
    , m_ruleDb(database)
    , m_rules(rules)
    , m_messages(messages)
    , lsvFilter(filterView)
    , lsvExempted(exemptedView)
    , mnuFilterList(menus.mnuFilterList)
    , mnuExemptedList(menus.mnuExemptedList)
    , m_status(status)
    , m_window(window)
{
    // In the rule lists Delete deletes the highlighted rules, as their menu does.
    connect(lsvFilter, &ListViewWidget::deleteKeyDown, this, &RuleActions::mnuFilterDelete_Click);
    connect(lsvExempted, &ListViewWidget::deleteKeyDown, this, &RuleActions::mnuExemptedDelete_Click);
    connect(lsvFilter, &ListViewWidget::rightButtonUp, this, &RuleActions::lsvFilter_MouseUp);
    connect(lsvExempted, &ListViewWidget::rightButtonUp, this, &RuleActions::lsvExempted_MouseUp);

    const auto on = [this](QAction *action, void (RuleActions::*handler)()) {
        connect(action, &QAction::triggered, this, handler);
    };
    on(menus.mnuAddSenderToFilter1, &RuleActions::mnuAddSenderToFilter1_Click);
    on(menus.mnuAddDomainToFilter1, &RuleActions::mnuAddDomainToFilter1_Click);
    on(menus.mnuExemptSenderFromFilter1, &RuleActions::mnuExemptSenderFromFilter1_Click);
    on(menus.mnuAddSenderToFilter2, &RuleActions::mnuAddSenderToFilter2_Click);
    on(menus.mnuAddDomainToFilter2, &RuleActions::mnuAddDomainToFilter2_Click);
    on(menus.mnuRemoveSenderFromFilter, &RuleActions::mnuRemoveSenderFromFilter_Click);
    on(menus.mnuRemoveDomainFromFilter, &RuleActions::mnuRemoveDomainFromFilter_Click);
    on(menus.mnuExemptSenderFromFilter2, &RuleActions::mnuExemptSenderFromFilter2_Click);
    on(menus.mnuFilterAdd, &RuleActions::mnuFilterAdd_Click);
    on(menus.mnuFilterSpamMarks, &RuleActions::mnuFilterSpamMarks_Click);
    on(menus.mnuExemptedAdd, &RuleActions::mnuExemptedAdd_Click);
    on(menus.mnuFilterDelete, &RuleActions::mnuFilterDelete_Click);
    on(menus.mnuExemptedDelete, &RuleActions::mnuExemptedDelete_Click);
}

QString RuleActions::movedText(int count, const QString &folder)
{
    if (count == 0)
        return QStringLiteral("No message moved");
    return QStringLiteral("%1 %2 moved to the %3")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("message") : QStringLiteral("messages"), folder);
}

int RuleActions::recheckInbox()
{
    int moved = 0;
    guarded([&] {
        const RuleClassifier rules = RuleClassifier::fromDatabase(m_ruleDb);
        // Sorted as the fetch sorts: an exempted sender stays.
        int first = -1;
        for (const auto &[row, reason] : RuleCommands::rowsToRecycleBin(m_messages.inbox(), rules)) {
            m_messages.MoveToRecycleBin(row + 1, reason);
            first = row;
            ++moved;
        }
        m_messages.recycle().setSortReasons(RuleCommands::learnedRowsNowRuled(m_messages.recycle(), rules, true));
        // The row that took the place of the first one moved is current.
        if (first >= 0)
            m_messages.inboxView()->selectRow(first);
    });
    m_status.setText(movedText(moved, QStringLiteral("Recycle Bin")));
    m_messages.UpdateCountsForInbox();
    return moved;
}

int RuleActions::recheckRecycleBin()
{
    int moved = 0;
    guarded([&] {
        const RuleClassifier rules = RuleClassifier::fromDatabase(m_ruleDb);
        for (const auto &[row, reason] : RuleCommands::rowsToInbox(m_messages.recycle(), rules)) {
            m_messages.MoveToInbox(row + 1, reason);
            ++moved;
        }
        m_messages.inbox().setSortReasons(RuleCommands::learnedRowsNowRuled(m_messages.inbox(), rules, false));
    });
    m_status.setText(movedText(moved, QStringLiteral("Inbox")));
    m_messages.UpdateCountsForRecycleBin();
    return moved;
}

void RuleActions::lsvFilter_MouseUp(const QPoint &globalPos)
{
    mnuFilterList->popup(globalPos);
}

void RuleActions::lsvExempted_MouseUp(const QPoint &globalPos)
{
    mnuExemptedList->popup(globalPos);
}

void RuleActions::addToFilterFromInbox(RuleCommands::Value value)
{
    guarded(
        [&] { RuleCommands::addToFilter(m_messages.inbox(), m_messages.inboxView()->selectedRows(), value, m_rules); });
    // Every Inbox row the lists now send away goes, last row first.
    recheckInbox();
}

void RuleActions::addToFilterFromRecycleBin(RuleCommands::Value value)
{
    guarded([&] {
        RuleCommands::addToFilter(m_messages.recycle(), m_messages.recycleView()->selectedRows(), value, m_rules);
    });
    recheckInbox();
    m_messages.UpdateCountsForRecycleBin();
}

void RuleActions::removeFromFilter(RuleCommands::Value value)
{
    guarded([&] {
        RuleCommands::removeFromFilter(m_messages.recycle(), m_messages.recycleView()->selectedRows(), value, m_rules);
    });
}

void RuleActions::mnuAddSenderToFilter1_Click()
{
    addToFilterFromInbox(RuleCommands::Value::Sender);
}

void RuleActions::mnuAddDomainToFilter1_Click()
{
    addToFilterFromInbox(RuleCommands::Value::Domain);
}

void RuleActions::mnuExemptSenderFromFilter1_Click()
{
    guarded(
        [this] { RuleCommands::addToExempted(m_messages.inbox(), m_messages.inboxView()->selectedRows(), m_rules); });
    recheckRecycleBin();
    m_messages.UpdateCountsForInbox();
}

void RuleActions::mnuAddSenderToFilter2_Click()
{
    addToFilterFromRecycleBin(RuleCommands::Value::Sender);
}

void RuleActions::mnuAddDomainToFilter2_Click()
{
    addToFilterFromRecycleBin(RuleCommands::Value::Domain);
}

void RuleActions::mnuRemoveSenderFromFilter_Click()
{
    removeFromFilter(RuleCommands::Value::Sender);
}

void RuleActions::mnuRemoveDomainFromFilter_Click()
{
    removeFromFilter(RuleCommands::Value::Domain);
}

void RuleActions::mnuExemptSenderFromFilter2_Click()
{
    guarded([this] {
        RuleCommands::addToExempted(m_messages.recycle(), m_messages.recycleView()->selectedRows(), m_rules);
    });
    recheckRecycleBin();
}

void RuleActions::mnuFilterAdd_Click()
{
    frmRuleAdd dialog(frmRuleAdd::Kind::Filter, m_rules, m_window);
    dialog.exec();
    if (dialog.added() > 0)
        recheckInbox();
}

void RuleActions::mnuExemptedAdd_Click()
{
    frmRuleAdd dialog(frmRuleAdd::Kind::Exempted, m_rules, m_window);
    dialog.exec();
    if (dialog.added() > 0)
        recheckRecycleBin();
}

void RuleActions::mnuFilterDelete_Click()
{
    deleteSelectedRules(lsvFilter, [this](const QString &value) { m_rules.DeleteFilter(value); });
}

void RuleActions::mnuExemptedDelete_Click()
{
    deleteSelectedRules(lsvExempted, [this](const QString &value) { m_rules.DeleteExempted(value); });
}

void RuleActions::mnuFilterSpamMarks_Click()
{
    int added = 0;
    guarded([&] { added = ServerSpamMarks::addTo(m_rules); });
    if (added == 0) {
        m_status.setText(QStringLiteral("The Filter List already holds the server spam marks"));
    } else {
        // Sorted again as by any new filter rule: exempted mail stays.
        const int moved = recheckInbox();
        m_status.setText(QStringLiteral("%1 server spam %2 added to the Filter List; %3")
                             .arg(added)
                             .arg(added == 1 ? QStringLiteral("mark") : QStringLiteral("marks"),
                                  movedText(moved, QStringLiteral("Recycle Bin"))));
    }
    m_status.announce();
}
