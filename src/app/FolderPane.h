#pragma once

#include <QObject>

class DetailPane;
class FolderTreeWidget;
class ListViewWidget;
class MessageFolderModel;
class QLabel;
class RuleLists;

// The folder tree and what it chooses: which of the four lists shows, the
// folder caption above it, and the two message folders' counts in the tree.
class FolderPane : public QObject {
    Q_OBJECT
public:
    // The four lists the tree switches between.
    struct Lists {
        ListViewWidget *inbox;
        ListViewWidget *recycle;
        ListViewWidget *filter;
        ListViewWidget *exempted;
    };

    FolderPane(FolderTreeWidget *tree, QLabel *caption, const Lists &lists, MessageFolderModel &inbox,
               MessageFolderModel &recycle, RuleLists &rules, DetailPane &details, QObject *parent);

    void ShowInbox();
    void ShowRecycleBin();
    void ShowFilterList();
    void ShowExemptedList();

    // Shows `list` alone, with its node highlighted in the tree.
    void showList(ListViewWidget *list);
    void setFolderCaption(const QString &caption);
    void setNodeText(const QString &nodeKey, const QString &text);
    void selectNode(const QString &nodeKey);
    // The Inbox and Recycle Bin nodes name how many messages they hold.
    void showCounts();

public Q_SLOTS:
    void TreeView_NodeClick(const QString &tag);

private:
    void showMessageFolder(ListViewWidget *list, MessageFolderModel &model, const QString &caption);

    FolderTreeWidget *TreeView;
    QLabel *lblFolder;
    Lists m_lists;
    MessageFolderModel &m_inbox;
    MessageFolderModel &m_recycle;
    RuleLists &m_rules;
    DetailPane &m_details;
};
