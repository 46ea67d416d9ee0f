#pragma once

#include <QObject>
#include <QPersistentModelIndex>

class DetailPaneWidget;
class ListViewWidget;
class MessageFolderModel;

// The detail pane below the message lists: it shows the row the user picks
// in either list, and is cleared when that row leaves its list.
class DetailPane : public QObject {
    Q_OBJECT
public:
    DetailPane(DetailPaneWidget *pane, QObject *parent);

    // Shows the rows the user clicks or moves to in `view`, and forgets the
    // shown row when `model` loses it.
    void follow(ListViewWidget *view, MessageFolderModel *model);
    void setVisible(bool visible);

public Q_SLOTS:
    void ShowMessageDetails(const MessageFolderModel &list, int row);
    void ClearMessageDetails();

private:
    DetailPaneWidget *picDetail;
    // The row the pane shows: when it leaves its list (deleted on the
    // server, moved, the list cleared) the pane is cleared with it.
    QPersistentModelIndex m_shownRow;
    bool m_paneShowsRow = false;
};
