#include "FolderTreeWidget.h"

#include "AppIcons.h"
#include "FocusRing.h"

#include <QHeaderView>
#include <QMouseEvent>

FolderTreeWidget::FolderTreeWidget(QWidget *parent)
    : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("TreeView"));
    setAccessibleName(QStringLiteral("Folders"));
    setHeaderHidden(true);
    header()->setAccessibleName(QStringLiteral("Folders Columns"));
    setColumnCount(1);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemsExpandable(false);
    setRootIsDecorated(false);
    setIndentation(14);
    // A node text wider than the tree scrolls instead of being cut short.
    setTextElideMode(Qt::ElideNone);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    // A node chosen with the keyboard counts as clicked; a click on the node
    // that is already selected too (it shows the folder afresh).
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *current) {
        if (m_programmatic || !current)
            return;
        m_changedByPress = true;
        Q_EMIT nodeClicked(current->data(0, TagRole).toString());
    });
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        if (!m_changedByPress && item)
            Q_EMIT nodeClicked(item->data(0, TagRole).toString());
        m_changedByPress = false;
    });
}

void FolderTreeWidget::mousePressEvent(QMouseEvent *event)
{
    m_changedByPress = false;
    QTreeWidget::mousePressEvent(event);
}

void FolderTreeWidget::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QTreeWidget::drawRow(painter, option, index);
    if (hasFocus() && index == currentIndex())
        FocusRing::paint(*painter, visualRect(index).adjusted(-2, 0, 2, 0), palette());
}

QTreeWidgetItem *FolderTreeWidget::addNode(QTreeWidgetItem *parent, const QString &key, const QString &text,
                                           const QString &image, const QString &selectedImage, const QString &tag)
{
    auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setData(0, KeyRole, key);
    item->setIcon(0, AppIcons::nodeIcon(image, selectedImage));
    item->setData(0, TagRole, tag);
    item->setData(0, Qt::AccessibleTextRole, text);
    return item;
}

void FolderTreeWidget::BuildFolderTree()
{
    m_programmatic = true;
    clear();
    QTreeWidgetItem *root = addNode(nullptr, QStringLiteral("Root"), QStringLiteral("Folders"),
                                    QStringLiteral("yellowclose"), QStringLiteral("yellowclose"),
                                    QStringLiteral("root"));
    addNode(root, QStringLiteral("Inbox"), QStringLiteral("Inbox (0)"), QStringLiteral("greenclose"),
            QStringLiteral("greenopen"), QStringLiteral("Inbox"));
    addNode(root, QStringLiteral("Recycle Bin"), QStringLiteral("Recycle Bin (0)"), QStringLiteral("recyclebinclose"),
            QStringLiteral("recyclebinopen"), QStringLiteral("RecycleBin"));
    addNode(root, QStringLiteral("Filter List"), QStringLiteral("Filter List"), QStringLiteral("blueclose"),
            QStringLiteral("blueopen"), QStringLiteral("FilterList"));
    addNode(root, QStringLiteral("Exempted List"), QStringLiteral("Exempted List"), QStringLiteral("pinkclose"),
            QStringLiteral("pinkopen"), QStringLiteral("ExemptedList"));
    root->setExpanded(true);
    m_programmatic = false;
    selectNode(QStringLiteral("Inbox"));
}

QTreeWidgetItem *FolderTreeWidget::node(const QString &key) const
{
    for (QTreeWidgetItemIterator it(const_cast<FolderTreeWidget *>(this)); *it; ++it) {
        if ((*it)->data(0, KeyRole).toString() == key)
            return *it;
    }
    return nullptr;
}

QString FolderTreeWidget::nodeText(const QString &key) const
{
    const QTreeWidgetItem *item = node(key);
    return item ? item->text(0) : QString();
}

void FolderTreeWidget::setNodeText(const QString &key, const QString &text)
{
    if (QTreeWidgetItem *item = node(key)) {
        item->setText(0, text);
        item->setData(0, Qt::AccessibleTextRole, text);
    }
}

void FolderTreeWidget::selectNode(const QString &key)
{
    QTreeWidgetItem *item = node(key);
    if (!item)
        return;
    m_programmatic = true;
    setCurrentItem(item);
    m_programmatic = false;
}

QString FolderTreeWidget::selectedKey() const
{
    const QTreeWidgetItem *item = currentItem();
    return item ? item->data(0, KeyRole).toString() : QString();
}
