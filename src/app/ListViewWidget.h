#pragma once

#include <QList>
#include <QTreeView>

// One report-style list of the main window (lsvInbox, lsvRecycle, lsvFilter,
// lsvExempted): rows on white and light green bands, several rows selectable,
// and the list events the window handles, reported as signals: a
// double-click anywhere in the list, the Delete key, and the right mouse
// button released (or the keyboard's menu key) for the context menu.
class ListViewWidget : public QTreeView {
    Q_OBJECT
public:
    ListViewWidget(const QString &objectName, const QString &accessibleName, QWidget *parent = nullptr);

    // Paints the rows on the two band colours, one row per band, every row
    // `rowHeight` pixels high.
    void applyBands(const QColor &first, const QColor &second, int rowHeight);

    // The current row (0-based), or -1 when there is none.
    int currentRow() const;
    // The selected rows, 0-based, in ascending order.
    QList<int> selectedRows() const;

Q_SIGNALS:
    void dblClick();
    void deleteKeyDown();
    void rightButtonUp(const QPoint &globalPos);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
};
