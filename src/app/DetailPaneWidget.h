#pragma once

#include <QFrame>
#include <QStringList>
#include <functional>

class QLabel;

// The detail pane (picDetail) under the message lists: six bold captions
// and the value labels lblDate, lblPriority, lblSize, lblSender, lblSubject
// and lblRule (what put the message in its folder).
class DetailPaneWidget : public QFrame {
    Q_OBJECT
public:
    // `toPixels` converts the pane's design twips to pixels.
    DetailPaneWidget(std::function<int(int)> toPixels, QWidget *parent = nullptr);

    // Shows the five column texts (Sender, Subject, Date, Priority, Size)
    // and why the message is in its folder.
    void showTexts(const QStringList &columns, const QString &rule = QString());
    void clear();
    QStringList texts() const; // Sender, Subject (whole), Date, Priority, Size

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitSizeField();
    void fitLines();
    QLabel *addCaption(const QString &text, int left, int top);
    QLabel *addValue(const QString &name, const QString &accessibleName, QLabel *caption, int left, int top);

    std::function<int(int)> m_px;
    QLabel *m_sizeCaption = nullptr;
    QLabel *m_priorityCaption = nullptr;
    QLabel *lblDate = nullptr;
    QLabel *lblPriority = nullptr;
    QLabel *lblSize = nullptr;
    QLabel *lblSender = nullptr;
    QLabel *lblSubject = nullptr;
    QString m_sender; // whole, whatever part of them fits the line
    QString m_subject;
    QLabel *lblRule = nullptr;
    QString m_rule;
};
