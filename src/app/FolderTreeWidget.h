#pragma once

#include <QTreeWidget>

// The folder tree (TreeView): nodes carry a key (to find them), a text, an
// image and a selected image, and a tag (to recognise them when clicked).
class FolderTreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    enum Role { KeyRole = Qt::UserRole + 1, TagRole };

    explicit FolderTreeWidget(QWidget *parent = nullptr);

    // BuildFolderTree: the root "Folders" and its four folders, the Inbox
    // node selected.
    void BuildFolderTree();

    QTreeWidgetItem *node(const QString &key) const;
    QString nodeText(const QString &key) const;
    void setNodeText(const QString &key, const QString &text);
    // Selects the node without reporting it as clicked.
    void selectNode(const QString &key);
    QString selectedKey() const;

Q_SIGNALS:
    // A node was chosen by the user (mouse or keyboard); carries its tag.
    void nodeClicked(const QString &tag);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QTreeWidgetItem *addNode(QTreeWidgetItem *parent, const QString &key, const QString &text, const QString &image,
                             const QString &selectedImage, const QString &tag);

    bool m_programmatic = false;
    bool m_changedByPress = false;
};
