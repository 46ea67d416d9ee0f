#include "DetailPane.h"

#include "DetailPaneWidget.h"
#include "ListViewWidget.h"
#include "MessageFolderModel.h"

DetailPane::DetailPane(DetailPaneWidget *pane, QObject *parent)
    : QObject(parent)
    , picDetail(pane)
{
}

void DetailPane::follow(ListViewWidget *view, MessageFolderModel *model)
{
    connect(view, &QAbstractItemView::clicked, this,
            [this, model](const QModelIndex &index) { ShowMessageDetails(*model, index.row()); });
    // Moving through the list with the keyboard shows each row too.
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, view, model](const QModelIndex &current) {
                if (view->hasFocus() && view->isVisible())
                    ShowMessageDetails(*model, current.row());
            });
    // Whatever removes the row the pane shows (Empty Recycle Bin, a move,
    // a new fetch) takes it out of the pane too: it is no message any more.
    const auto forgetGoneRow = [this] {
        if (m_paneShowsRow && !m_shownRow.isValid())
            ClearMessageDetails();
    };
    connect(model, &QAbstractItemModel::rowsRemoved, this, forgetGoneRow);
    connect(model, &QAbstractItemModel::modelReset, this, forgetGoneRow);
}

void DetailPane::setVisible(bool visible)
{
    picDetail->setVisible(visible);
}

void DetailPane::ShowMessageDetails(const MessageFolderModel &list, int row)
{
    if (row < 0 || row >= list.rowCount()) {
        ClearMessageDetails();
        return;
    }
    // The model's display texts, which are what the list shows; the Score
    // is on the Rule line already.
    QStringList texts;
    for (int c = 0; c <= MessageFolderModel::Size; ++c)
        texts << list.data(list.index(row, c), Qt::DisplayRole).toString();
    picDetail->showTexts(texts, list.entry(row).sortReason.text());
    m_shownRow = list.index(row, 0);
    m_paneShowsRow = true;
}

void DetailPane::ClearMessageDetails()
{
    m_shownRow = QPersistentModelIndex();
    m_paneShowsRow = false;
    picDetail->clear();
}
