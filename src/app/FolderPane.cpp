#include "FolderPane.h"

#include "DetailPane.h"
#include "FolderTreeWidget.h"
#include "GuardedCommand.h"
#include "ListViewWidget.h"
#include "MessageFolderModel.h"
#include "RuleLists.h"

#include <QLabel>

namespace {

QString countText(const QString &name, int count)
{
    return name + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')');
}

} // namespace

FolderPane::FolderPane(FolderTreeWidget *tree, QLabel *caption, const Lists &lists, MessageFolderModel &inbox,
                       MessageFolderModel &recycle, RuleLists &rules, DetailPane &details, QObject *parent)
    : QObject(parent)
    , TreeView(tree)
    , lblFolder(caption)
    , m_lists(lists)
    , m_inbox(inbox)
    , m_recycle(recycle)
    , m_rules(rules)
    , m_details(details)
{
    connect(TreeView, &FolderTreeWidget::nodeClicked, this, &FolderPane::TreeView_NodeClick);
}

void FolderPane::TreeView_NodeClick(const QString &tag)
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

void FolderPane::showList(ListViewWidget *list)
{
    for (ListViewWidget *view : {m_lists.inbox, m_lists.recycle, m_lists.filter, m_lists.exempted})
        view->setVisible(view == list);
    // The highlighted folder is always the one shown, whoever showed it.
    const QString key = list == m_lists.inbox ? QStringLiteral("Inbox")
        : list == m_lists.recycle             ? QStringLiteral("Recycle Bin")
        : list == m_lists.filter              ? QStringLiteral("Filter List")
                                              : QStringLiteral("Exempted List");
    if (TreeView->selectedKey() != key)
        TreeView->selectNode(key);
}

void FolderPane::setFolderCaption(const QString &caption)
{
    lblFolder->setText(caption);
    // The caption is the label's accessible name; a screen reader hears the change.
    lblFolder->setAccessibleName(caption);
}

void FolderPane::setNodeText(const QString &nodeKey, const QString &text)
{
    TreeView->setNodeText(nodeKey, text);
}

void FolderPane::selectNode(const QString &nodeKey)
{
    TreeView->selectNode(nodeKey);
}

void FolderPane::showCounts()
{
    setNodeText(QStringLiteral("Inbox"), countText(QStringLiteral("Inbox"), m_inbox.count()));
    setNodeText(QStringLiteral("Recycle Bin"), countText(QStringLiteral("Recycle Bin"), m_recycle.count()));
}

void FolderPane::showMessageFolder(ListViewWidget *list, MessageFolderModel &model, const QString &caption)
{
    const int rows = model.count();
    showList(list);
    m_details.setVisible(true);
    m_rules.clearBoth();
    setFolderCaption(caption);
    if (rows < 1)
        m_details.ClearMessageDetails();
    else
        m_details.ShowMessageDetails(model, list->currentRow());
    showCounts();
}

void FolderPane::ShowInbox()
{
    showMessageFolder(m_lists.inbox, m_inbox, QStringLiteral("Inbox"));
}

void FolderPane::ShowRecycleBin()
{
    showMessageFolder(m_lists.recycle, m_recycle, QStringLiteral("Recycle Bin"));
}

void FolderPane::ShowFilterList()
{
    showList(m_lists.filter);
    m_details.setVisible(false);
    guarded([this] { m_rules.fillFilterList(); });
    setFolderCaption(QStringLiteral("Filter List"));
}

void FolderPane::ShowExemptedList()
{
    showList(m_lists.exempted);
    m_details.setVisible(false);
    guarded([this] { m_rules.fillExemptedList(); });
    setFolderCaption(QStringLiteral("Exempted List"));
}
