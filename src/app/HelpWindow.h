#pragma once

#include <QUrl>
#include <QWidget>

class QListWidget;
class QTextBrowser;

// The program's help: the pages shipped inside the program, a contents list
// on the left and the page on the right.
class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // The pages in contents order: resource URL and title.
    static QList<QPair<QUrl, QString>> pages();

    void showPage(const QUrl &url);
    QUrl currentPage() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void syncContents(const QUrl &url);

    QListWidget *lstContents = nullptr;
    QTextBrowser *txtPage = nullptr;
};
