#include "MessageLists.h"

#include "DetailPane.h"
#include "FolderPane.h"
#include "ListViewWidget.h"
#include "MessageFolderModel.h"
#include "frmMainMenus.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <utility>

namespace {

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

} // namespace

MessageLists::MessageLists(ListViewWidget *inboxView, ListViewWidget *recycleView, MessageFolderModel &inbox,
                           MessageFolderModel &recycle, const MainMenus &menus, FolderPane &folders,
                           DetailPane &details, QObject *parent)
    : QObject(parent)
    , lsvInbox(inboxView)
    , lsvRecycle(recycleView)
    , m_inbox(inbox)
    , m_recycle(recycle)
    , mnuInboxPopup(menus.mnuInboxPopup)
    , mnuRecycleBinPopup(menus.mnuRecycleBinPopup)
    , m_folders(folders)
    , m_details(details)
{
    connect(lsvInbox, &ListViewWidget::dblClick, this, &MessageLists::lsvInbox_DblClick);
    // Delete moves the highlighted rows, as the context menu's first item does.
    connect(lsvInbox, &ListViewWidget::deleteKeyDown, this, &MessageLists::mnuMoveToRecycle_Click);
    connect(lsvRecycle, &ListViewWidget::dblClick, this, &MessageLists::lsvRecycle_DblClick);
    connect(lsvRecycle, &ListViewWidget::deleteKeyDown, this, &MessageLists::mnuMoveToInbox_Click);
    connect(lsvInbox, &ListViewWidget::rightButtonUp, this, &MessageLists::lsvInbox_MouseUp);
    connect(lsvRecycle, &ListViewWidget::rightButtonUp, this, &MessageLists::lsvRecycle_MouseUp);
    for (auto [view, model] : {std::pair{lsvInbox, &m_inbox}, std::pair{lsvRecycle, &m_recycle}}) {
        connect(view->header(), &QHeaderView::sectionClicked, this,
                [this, view = view, model = model](int column) { showSortedBy(view, *model, column); });
    }
    connect(menus.mnuMoveToRecycle, &QAction::triggered, this, &MessageLists::mnuMoveToRecycle_Click);
    connect(menus.mnuMoveToInbox, &QAction::triggered, this, &MessageLists::mnuMoveToInbox_Click);
}

void MessageLists::MoveToRecycleBin(int position, const SortReason &reason)
{
    if (m_lessons && position >= 1 && position <= m_inbox.count())
        m_movedToRecycle.append(m_inbox.entry(position - 1));
    moveRow(m_inbox, m_recycle, position, QStringLiteral("recycle"), reason);
}

void MessageLists::MoveToInbox(int position, const SortReason &reason)
{
    if (m_lessons && position >= 1 && position <= m_recycle.count())
        m_movedToInbox.append(m_recycle.entry(position - 1));
    moveRow(m_recycle, m_inbox, position, QStringLiteral("inbox"), reason);
}

void MessageLists::tellLessons()
{
    if (!m_movedToRecycle.isEmpty())
        m_lessons(std::exchange(m_movedToRecycle, {}), true);
    if (!m_movedToInbox.isEmpty())
        m_lessons(std::exchange(m_movedToInbox, {}), false);
}

void MessageLists::UpdateCountsForInbox()
{
    tellLessons();
    m_folders.showCounts();
    // The pane belongs to the list on screen: an import sorts both lists
    // again, whichever shows.
    if (lsvInbox->isHidden())
        return;
    if (m_inbox.count() > 0)
        m_details.ShowMessageDetails(m_inbox, lsvInbox->currentRow());
    else
        m_details.ClearMessageDetails();
}

void MessageLists::UpdateCountsForRecycleBin()
{
    tellLessons();
    m_folders.showCounts();
    if (lsvRecycle->isHidden())
        return;
    if (m_recycle.count() > 0)
        m_details.ShowMessageDetails(m_recycle, lsvRecycle->currentRow());
    else
        m_details.ClearMessageDetails();
}

int MessageLists::forgetLearnedVerdicts()
{
    const SortReason none;
    int moved = 0;
    for (int row = m_recycle.count() - 1; row >= 0; --row) {
        if (m_recycle.entry(row).sortReason.kind == SortReason::Kind::Learned) {
            moveRow(m_recycle, m_inbox, row + 1, QStringLiteral("inbox"), none);
            ++moved;
        }
    }
    QList<QPair<int, SortReason>> forgotten;
    for (int row = 0; row < m_inbox.count(); ++row) {
        if (m_inbox.entry(row).sortReason.kind == SortReason::Kind::Learned)
            forgotten.append({row, none});
    }
    m_inbox.setSortReasons(forgotten);
    m_folders.showCounts();
    UpdateCountsForInbox();
    UpdateCountsForRecycleBin();
    return moved;
}

void MessageLists::showSortedBy(ListViewWidget *list, MessageFolderModel &model, int column)
{
    // Always ascending: a second click on a column sorts the same way again.
    model.sort(column, Qt::AscendingOrder);
    list->header()->setSortIndicatorShown(true);
    list->header()->setSortIndicator(column, Qt::AscendingOrder);
}

// Double-click: the current row, when it is highlighted; a row the user
// cannot see selected is never moved.
void MessageLists::lsvInbox_DblClick()
{
    const int row = lsvInbox->currentRow();
    if (row < 0 || !lsvInbox->selectionModel()->isRowSelected(row, {}))
        return;
    MoveToRecycleBin(row + 1);
    lsvInbox->selectRow(row);
    UpdateCountsForInbox();
}

void MessageLists::lsvRecycle_DblClick()
{
    const int row = lsvRecycle->currentRow();
    if (row < 0 || !lsvRecycle->selectionModel()->isRowSelected(row, {}))
        return;
    MoveToInbox(row + 1);
    lsvRecycle->selectRow(row);
    UpdateCountsForRecycleBin();
}

void MessageLists::lsvInbox_MouseUp(const QPoint &globalPos)
{
    if (m_inbox.count() > 0)
        mnuInboxPopup->popup(globalPos);
}

void MessageLists::lsvRecycle_MouseUp(const QPoint &globalPos)
{
    if (m_recycle.count() > 0)
        mnuRecycleBinPopup->popup(globalPos);
}

void MessageLists::mnuMoveToRecycle_Click()
{
    if (m_inbox.count() == 0)
        return;
    // From the bottom up, so the rows still to visit keep their positions.
    const QList<int> selected = lsvInbox->selectedRows();
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        MoveToRecycleBin(*it + 1);
    if (!selected.isEmpty())
        lsvInbox->selectRow(selected.first());
    UpdateCountsForInbox();
}

void MessageLists::mnuMoveToInbox_Click()
{
    if (m_recycle.count() == 0)
        return;
    const QList<int> selected = lsvRecycle->selectedRows();
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        MoveToInbox(*it + 1);
    if (!selected.isEmpty())
        lsvRecycle->selectRow(selected.first());
    UpdateCountsForRecycleBin();
}
