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
    // `rowHeight` pixels high; on a dark scheme the bands are dark (and
    // follow a change of scheme).
    void applyBands(const QColor &first, const QColor &second, int rowHeight);

    // A text shown in the empty list (how to begin); none when empty.
    void setEmptyText(const QString &text);
    QString emptyText() const { return m_emptyText; }

    // Makes the row (clamped to the list) the current and only selected
    // one, as the next row after a move; clears the selection of an empty list.
    void selectRow(int row);

    // The text colours on the light bands.
    static inline const QColor kBandText = QColor(0x10, 0x10, 0x10);
    static inline const QColor kBandPlaceholder = QColor(0x50, 0x50, 0x50);

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
    void paintEvent(QPaintEvent *event) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void changeEvent(QEvent *event) override;

private:
    void openMenuAtCurrentRow();

    void paintBands();

    QString m_emptyText;
    QColor m_bandFirst, m_bandSecond; // as the design names them; invalid: no bands
};
