// The message lists, the rule lists and their commands.
#include "frmMain.h"

#include "DetailPaneWidget.h"
#include "FolderTreeWidget.h"
#include "ListViewWidget.h"
#include "MessageBox.h"
#include "MessageFolderModel.h"
#include "RuleClassifier.h"
#include "RuleLists.h"
#include "frmRuleAdd.h"

#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QStandardItemModel>

#include <algorithm>
#include <exception>
#include <functional>

namespace {

QString countText(const QString &name, int count)
{
    return name + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')');
}

// Appends a copy of the row at the end of `to` with the folder's icon and
// what moved it, then removes the source row. The message number goes with
// the row.
void moveRow(MessageFolderModel &from, MessageFolderModel &to, int position, const QString &iconKey,
             const SortReason &reason)
{
    const int row = position - 1;
    if (row < 0 || row >= from.count())
        return;
    MessageEntry entry = from.entry(row);
    entry.iconKey = iconKey;
    entry.sortReason = reason;
    to.append(entry);
    from.removeAt(row);
}

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

QString frmMain::movedText(int count, const QString &folder)
{
    if (count == 0)
        return QStringLiteral("No message moved");
    return QStringLiteral("%1 %2 moved to the %3")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("message") : QStringLiteral("messages"), folder);
}

void frmMain::guarded(const std::function<void()> &command)
{
    try {
        command();
    } catch (const std::exception &e) {
        MessageBox::show(QString::fromUtf8(e.what()), QStringLiteral("Error"), MessageBox::Icon::Critical);
    }
}

void frmMain::TreeView_NodeClick(const QString &tag)
{
    if (tag == QLatin1String("Inbox"))
        ShowInbox();
    else if (tag == QLatin1String("RecycleBin"))
        ShowRecycleBin();
    else if (tag == QLatin1String("FilterList"))
        ShowFilterList();
    else if (tag == QLatin1String("ExemptedList"))
        ShowExemptedList();
}

void frmMain::showList(ListViewWidget *list)
{
    for (ListViewWidget *view : {lsvInbox, lsvRecycle, lsvFilter, lsvExempted})
        view->setVisible(view == list);
    // The highlighted folder is always the one shown, whoever showed it.
    const QString key = list == lsvInbox ? QStringLiteral("Inbox")
        : list == lsvRecycle             ? QStringLiteral("Recycle Bin")
        : list == lsvFilter              ? QStringLiteral("Filter List")
                                         : QStringLiteral("Exempted List");
    if (TreeView->selectedKey() != key)
        TreeView->selectNode(key);
}

void frmMain::ShowInbox()
{
    const int rows = m_inbox->count();
    showList(lsvInbox);
    picDetail->show();
    m_rules->clearBoth();
    setFolderCaption(QStringLiteral("Inbox"));
    if (rows < 1)
        ClearMessageDetails();
    else
        ShowMessageDetails(*m_inbox, lsvInbox->currentRow());
    setNodeText(QStringLiteral("Inbox"), countText(QStringLiteral("Inbox"), m_inbox->count()));
    setNodeText(QStringLiteral("Recycle Bin"), countText(QStringLiteral("Recycle Bin"), m_recycle->count()));
}

void frmMain::ShowRecycleBin()
{
    const int rows = m_recycle->count();
    showList(lsvRecycle);
    picDetail->show();
    m_rules->clearBoth();
    setFolderCaption(QStringLiteral("Recycle Bin"));
    if (rows < 1)
        ClearMessageDetails();
    else
        ShowMessageDetails(*m_recycle, lsvRecycle->currentRow());
    setNodeText(QStringLiteral("Inbox"), countText(QStringLiteral("Inbox"), m_inbox->count()));
    setNodeText(QStringLiteral("Recycle Bin"), countText(QStringLiteral("Recycle Bin"), m_recycle->count()));
}

void frmMain::ShowFilterList()
{
    showList(lsvFilter);
    picDetail->hide();
    guarded([this] { m_rules->fillFilterList(); });
    setFolderCaption(QStringLiteral("Filter List"));
}

void frmMain::ShowExemptedList()
{
    showList(lsvExempted);
    picDetail->hide();
    guarded([this] { m_rules->fillExemptedList(); });
    setFolderCaption(QStringLiteral("Exempted List"));
}

void frmMain::MoveToRecycleBin(int position, const SortReason &reason)
{
    moveRow(*m_inbox, *m_recycle, position, QStringLiteral("recycle"), reason);
}

void frmMain::MoveToInbox(int position, const SortReason &reason)
{
    moveRow(*m_recycle, *m_inbox, position, QStringLiteral("inbox"), reason);
}

int frmMain::recheckInbox()
{
    int moved = 0;
    guarded([&] {
        const RuleClassifier rules = RuleClassifier::fromDatabase(m_ruleDb);
        // Sorted as the fetch sorts: an exempted sender stays.
        int first = -1;
        for (const auto &[row, reason] : RuleCommands::rowsToRecycleBin(*m_inbox, rules)) {
            MoveToRecycleBin(row + 1, reason);
            first = row;
            ++moved;
        }
        // The row that took the place of the first one moved is current.
        if (first >= 0)
            lsvInbox->selectRow(first);
    });
    UpdateCountsForInbox();
    setStatusText(movedText(moved, QStringLiteral("Recycle Bin")));
    return moved;
}

int frmMain::recheckRecycleBin()
{
    int moved = 0;
    guarded([&] {
        const RuleClassifier rules = RuleClassifier::fromDatabase(m_ruleDb);
        for (const auto &[row, reason] : RuleCommands::rowsToInbox(*m_recycle, rules)) {
            MoveToInbox(row + 1, reason);
            ++moved;
        }
    });
    UpdateCountsForRecycleBin();
    setStatusText(movedText(moved, QStringLiteral("Inbox")));
    return moved;
}

void frmMain::UpdateCountsForInbox()
{
    setNodeText(QStringLiteral("Inbox"), countText(QStringLiteral("Inbox"), m_inbox->count()));
    setNodeText(QStringLiteral("Recycle Bin"), countText(QStringLiteral("Recycle Bin"), m_recycle->count()));
    if (m_inbox->count() > 0)
        ShowMessageDetails(*m_inbox, lsvInbox->currentRow());
    else
        ClearMessageDetails();
}

void frmMain::UpdateCountsForRecycleBin()
{
    setNodeText(QStringLiteral("Inbox"), countText(QStringLiteral("Inbox"), m_inbox->count()));
    setNodeText(QStringLiteral("Recycle Bin"), countText(QStringLiteral("Recycle Bin"), m_recycle->count()));
    if (m_recycle->count() > 0)
        ShowMessageDetails(*m_recycle, lsvRecycle->currentRow());
    else
        ClearMessageDetails();
}

void frmMain::ShowMessageDetails(const MessageFolderModel &list, int row)
{
    if (row < 0 || row >= list.rowCount()) {
        ClearMessageDetails();
        return;
    }
    // The model's display texts, which are what the list shows.
    QStringList texts;
    for (int c = 0; c < MessageFolderModel::ColumnCount; ++c)
        texts << list.data(list.index(row, c), Qt::DisplayRole).toString();
    picDetail->showTexts(texts, list.entry(row).sortReason.text());
    m_shownRow = list.index(row, 0);
    m_paneShowsRow = true;
}

void frmMain::ClearMessageDetails()
{
    m_shownRow = QPersistentModelIndex();
    m_paneShowsRow = false;
    picDetail->clear();
}

void frmMain::showSortedBy(ListViewWidget *list, MessageFolderModel &model, int column)
{
    // Always ascending: a second click on a column sorts the same way again.
    model.sort(column, Qt::AscendingOrder);
    list->header()->setSortIndicatorShown(true);
    list->header()->setSortIndicator(column, Qt::AscendingOrder);
}

// Double-click: the current row, when it is highlighted; a row the user
// cannot see selected is never moved.
void frmMain::lsvInbox_DblClick()
{
    const int row = lsvInbox->currentRow();
    if (row < 0 || !lsvInbox->selectionModel()->isRowSelected(row, {}))
        return;
    MoveToRecycleBin(row + 1);
    lsvInbox->selectRow(row);
    UpdateCountsForInbox();
}

void frmMain::lsvRecycle_DblClick()
{
    const int row = lsvRecycle->currentRow();
    if (row < 0 || !lsvRecycle->selectionModel()->isRowSelected(row, {}))
        return;
    MoveToInbox(row + 1);
    lsvRecycle->selectRow(row);
    UpdateCountsForRecycleBin();
}

void frmMain::lsvInbox_MouseUp(const QPoint &globalPos)
{
    if (m_inbox->count() > 0)
        m_menus.mnuInboxPopup->popup(globalPos);
}

void frmMain::lsvRecycle_MouseUp(const QPoint &globalPos)
{
    if (m_recycle->count() > 0)
        m_menus.mnuRecycleBinPopup->popup(globalPos);
}

void frmMain::lsvFilter_MouseUp(const QPoint &globalPos)
{
    m_menus.mnuFilterList->popup(globalPos);
}

void frmMain::lsvExempted_MouseUp(const QPoint &globalPos)
{
    m_menus.mnuExemptedList->popup(globalPos);
}

void frmMain::mnuMoveToRecycle_Click()
{
    if (m_inbox->count() == 0)
        return;
    // From the bottom up, so the rows still to visit keep their positions.
    const QList<int> selected = lsvInbox->selectedRows();
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        MoveToRecycleBin(*it + 1);
    if (!selected.isEmpty())
        lsvInbox->selectRow(selected.first());
    UpdateCountsForInbox();
}

void frmMain::mnuMoveToInbox_Click()
{
    if (m_recycle->count() == 0)
        return;
    const QList<int> selected = lsvRecycle->selectedRows();
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        MoveToInbox(*it + 1);
    if (!selected.isEmpty())
        lsvRecycle->selectRow(selected.first());
    UpdateCountsForRecycleBin();
}

void frmMain::addToFilterFromInbox(RuleCommands::Value value)
{
    guarded([&] { RuleCommands::addToFilter(*m_inbox, lsvInbox->selectedRows(), value, *m_rules); });
    // Every Inbox row the lists now send away goes, last row first.
    recheckInbox();
}

void frmMain::mnuAddSenderToFilter1_Click()
{
    addToFilterFromInbox(RuleCommands::Value::Sender);
}

void frmMain::mnuAddDomainToFilter1_Click()
{
    addToFilterFromInbox(RuleCommands::Value::Domain);
}

void frmMain::mnuExemptSenderFromFilter1_Click()
{
    guarded([this] { RuleCommands::addToExempted(*m_inbox, lsvInbox->selectedRows(), *m_rules); });
    recheckRecycleBin();
    UpdateCountsForInbox();
}

void frmMain::mnuAddSenderToFilter2_Click()
{
    guarded([this] {
        RuleCommands::addToFilter(*m_recycle, lsvRecycle->selectedRows(), RuleCommands::Value::Sender, *m_rules);
    });
    recheckInbox();
    UpdateCountsForRecycleBin();
}

void frmMain::mnuAddDomainToFilter2_Click()
{
    guarded([this] {
        RuleCommands::addToFilter(*m_recycle, lsvRecycle->selectedRows(), RuleCommands::Value::Domain, *m_rules);
    });
    recheckInbox();
    UpdateCountsForRecycleBin();
}

void frmMain::mnuRemoveSenderFromFilter_Click()
{
    guarded([this] {
        RuleCommands::removeFromFilter(*m_recycle, lsvRecycle->selectedRows(), RuleCommands::Value::Sender,
                                       *m_rules);
    });
}

void frmMain::mnuRemoveDomainFromFilter_Click()
{
    guarded([this] {
        RuleCommands::removeFromFilter(*m_recycle, lsvRecycle->selectedRows(), RuleCommands::Value::Domain,
                                       *m_rules);
    });
}

void frmMain::mnuExemptSenderFromFilter2_Click()
{
    guarded([this] { RuleCommands::addToExempted(*m_recycle, lsvRecycle->selectedRows(), *m_rules); });
    recheckRecycleBin();
}

void frmMain::mnuFilterAdd_Click()
{
    frmRuleAdd dialog(frmRuleAdd::Kind::Filter, *m_rules, this);
    dialog.exec();
    if (dialog.added() > 0)
        recheckInbox();
}

void frmMain::mnuExemptedAdd_Click()
{
    frmRuleAdd dialog(frmRuleAdd::Kind::Exempted, *m_rules, this);
    dialog.exec();
    if (dialog.added() > 0)
        recheckRecycleBin();
}

void frmMain::mnuFilterDelete_Click()
{
    deleteSelectedRules(lsvFilter, [this](const QString &value) { m_rules->DeleteFilter(value); });
}

void frmMain::mnuExemptedDelete_Click()
{
    deleteSelectedRules(lsvExempted, [this](const QString &value) { m_rules->DeleteExempted(value); });
}
