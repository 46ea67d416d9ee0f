#pragma once

#include "MainLayout.h"
#include "MessageFolderModel.h"

#include <QObject>
#include <QSize>
#include <functional>

class ListViewWidget;
class QAction;
class QPoint;

// The widths of the two message lists' columns: fitted to the window and
// the fonts, with the widths the user set remembered in the settings store.
// The Score column is there for whoever asks for it (the lists' header
// menu, or the File menu) and takes its room from Subject; the choice is
// remembered too.
class MessageColumns : public QObject {
    Q_OBJECT
public:
    // `outerSizeTwips` gives the window's outer size the layout rules see.
    MessageColumns(ListViewWidget *inboxView, ListViewWidget *recycleView, double dpi,
                   std::function<QSize()> outerSizeTwips, QObject *parent);

    void loadColumnWidths();
    // A checkable action that shows and hides the Score column beside the
    // header menu, kept checked as the column is shown.
    void setScoreToggle(QAction *toggle);
    void fitMessageColumns(const MainLayout::Geometry &g);

Q_SIGNALS:
    // The user set a column's width: the window lays the lists out again,
    // so that the other list and Subject follow.
    void columnWidthSet();

private:
    void rememberColumnWidth(int column, int width);
    void showHeaderMenu(ListViewWidget *view, const QPoint &pos);
    void setScoreShown(bool shown);
    void hideScore(bool hidden);
    int toPixels(int twips) const;

    ListViewWidget *lsvInbox;
    ListViewWidget *lsvRecycle;
    double m_dpi;
    std::function<QSize()> m_outerSizeTwips;
    bool m_fittingColumns = false;
    // Message column widths the user set, in twips (0: not set).
    int m_userColumnTwips[MessageFolderModel::ColumnCount] = {};
    bool m_scoreShown = false;
    QAction *m_scoreToggle = nullptr;
};
