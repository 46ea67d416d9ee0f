#include "ListViewWidget.h"

#include "FocusRing.h"
#include "ListBands.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// Gives every row the band height, whatever its text or icon asks for.
class BandDelegate : public QStyledItemDelegate {
public:
    BandDelegate(int rowHeight, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_rowHeight(rowHeight)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(m_rowHeight);
        return size;
    }

private:
    int m_rowHeight;
};

} // namespace

ListViewWidget::ListViewWidget(const QString &objectName, const QString &accessibleName, QWidget *parent)
    : QTreeView(parent)
{
    setObjectName(objectName);
    setAccessibleName(accessibleName);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(16, 16));
    setTextElideMode(Qt::ElideRight);
    header()->setStretchLastSection(false);
    header()->setAccessibleName(accessibleName + QStringLiteral(" Columns"));
    header()->setSectionsMovable(false);
}

void ListViewWidget::applyBands(const QColor &first, const QColor &second, int rowHeight)
{
    m_bandFirst = first;
    m_bandSecond = second;
    paintBands();
    setAlternatingRowColors(true);
    QAbstractItemDelegate *old = itemDelegate();
    setItemDelegate(new BandDelegate(rowHeight, this));
    if (old && old->parent() == this)
        old->deleteLater();
}

void ListViewWidget::paintBands()
{
    if (!m_bandFirst.isValid())
        return;
    const QPalette scheme = QApplication::palette(this);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, ListBands::shownFirst(m_bandFirst, scheme));
    pal.setColor(QPalette::AlternateBase, ListBands::shownSecond(m_bandSecond, scheme));
    // The scheme's text reads on its own dark bands; on the light ones a
    // dark text does, whatever the scheme's.
    const bool dark = ListBands::isDark(scheme);
    pal.setColor(QPalette::Text, dark ? scheme.color(QPalette::Text) : kBandText);
    const QColor text = scheme.color(QPalette::Text), base = scheme.color(QPalette::Base);
    const QColor hint = QColor::fromRgbF(0.7f * text.redF() + 0.3f * base.redF(),
                                         0.7f * text.greenF() + 0.3f * base.greenF(),
                                         0.7f * text.blueF() + 0.3f * base.blueF());
    pal.setColor(QPalette::PlaceholderText, dark ? hint : kBandPlaceholder);
    setPalette(pal);
}

void ListViewWidget::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ApplicationPaletteChange)
        paintBands();
    QTreeView::changeEvent(event);
}

int ListViewWidget::currentRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

QList<int> ListViewWidget::selectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    const QModelIndexList selected = selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex &index : selected)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void ListViewWidget::setEmptyText(const QString &text)
{
    if (text == m_emptyText)
        return;
    m_emptyText = text;
    // Painted text is no text to a screen reader: the list describes itself
    // with it, and says so when it changes.
    setAccessibleDescription(text);
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
    viewport()->update();
}

void ListViewWidget::paintEvent(QPaintEvent *event)
{
    QTreeView::paintEvent(event);
    if (m_emptyText.isEmpty() || !model() || model()->rowCount() > 0)
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const int margin = fontMetrics().height();
    painter.drawText(viewport()->rect().adjusted(margin, margin, -margin, -margin),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_emptyText);
}

void ListViewWidget::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QTreeView::drawRow(painter, option, index);
    if (!hasFocus() || index.row() != currentIndex().row())
        return;
    // Across the columns there are, within the list's width.
    const int right = std::min(header()->length() - header()->offset(), viewport()->width());
    FocusRing::paint(*painter, QRect(0, option.rect.y(), right, option.rect.height()), palette());
}

void ListViewWidget::selectRow(int row)
{
    if (!model() || !selectionModel())
        return;
    const int count = model()->rowCount();
    if (count == 0) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex index = model()->index(std::clamp(row, 0, count - 1), 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

void ListViewWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeView::mouseDoubleClickEvent(event);
    // Wherever the click was: the handler acts on the current row.
    if (event->button() == Qt::LeftButton)
        Q_EMIT dblClick();
}

void ListViewWidget::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton)
        Q_EMIT rightButtonUp(event->globalPosition().toPoint());
}

void ListViewWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete) {
        Q_EMIT deleteKeyDown();
        event->accept();
        return;
    }
    // Shift+F10 opens the context menu as the menu key does.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        openMenuAtCurrentRow();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ListViewWidget::contextMenuEvent(QContextMenuEvent *event)
{
    // The mouse opens the menu on release (above); the keyboard's menu key
    // opens it at the current row, so the menus are reachable without a mouse.
    if (event->reason() == QContextMenuEvent::Keyboard)
        openMenuAtCurrentRow();
    event->accept();
}

void ListViewWidget::openMenuAtCurrentRow()
{
    QPoint at = visualRect(currentIndex()).center();
    if (!currentIndex().isValid())
        at = QPoint(0, 0);
    Q_EMIT rightButtonUp(viewport()->mapToGlobal(at));
}
