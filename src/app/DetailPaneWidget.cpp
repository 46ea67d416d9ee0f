#include "DetailPaneWidget.h"

#include <QLabel>

#include <algorithm>

DetailPaneWidget::DetailPaneWidget(std::function<int(int)> toPixels, QWidget *parent)
    : QFrame(parent), m_px(std::move(toPixels))
{
    setObjectName(QStringLiteral("picDetail"));
    setAccessibleName(QStringLiteral("Message Details"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);

    QLabel *date = addCaption(QStringLiteral("Date:"), 120, 120);
    QLabel *priority = addCaption(QStringLiteral("Priority:"), 4200, 120);
    QLabel *size = addCaption(QStringLiteral("Size:"), 5880, 120);
    QLabel *sender = addCaption(QStringLiteral("Sender:"), 120, 360);
    QLabel *subject = addCaption(QStringLiteral("Subject:"), 120, 600);

    lblDate = addValue(QStringLiteral("lblDate"), QStringLiteral("Date"), date, 960, 120);
    lblPriority = addValue(QStringLiteral("lblPriority"), QStringLiteral("Priority"), priority, 4920, 120);
    lblSize = addValue(QStringLiteral("lblSize"), QStringLiteral("Size"), size, 6360, 120);
    lblSender = addValue(QStringLiteral("lblSender"), QStringLiteral("Sender"), sender, 960, 360);
    lblSubject = addValue(QStringLiteral("lblSubject"), QStringLiteral("Subject"), subject, 960, 600);
    // A long subject wraps within a fixed area of two lines.
    lblSubject->setWordWrap(true);
    lblSubject->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblSubject->resize(m_px(5880), m_px(435));
}

QLabel *DetailPaneWidget::addCaption(const QString &text, int left, int top)
{
    auto *caption = new QLabel(text, this);
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    caption->move(m_px(left), m_px(top));
    caption->adjustSize();
    return caption;
}

QLabel *DetailPaneWidget::addValue(const QString &name, const QString &accessibleName, QLabel *caption,
                                   int left, int top)
{
    auto *value = new QLabel(this);
    value->setObjectName(name);
    value->setAccessibleName(accessibleName);
    value->setTextFormat(Qt::PlainText);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The design position, unless this screen's bold caption is wider than
    // the design's font made it: then just after the caption.
    value->move(std::max(m_px(left), caption->geometry().right() + m_px(90)), m_px(top));
    return value;
}

void DetailPaneWidget::showTexts(const QStringList &columns)
{
    const auto column = [&](int i) { return i < columns.size() ? columns.at(i) : QString(); };
    lblSender->setText(column(0));
    lblSubject->setText(column(1));
    lblDate->setText(column(2));
    lblPriority->setText(column(3));
    lblSize->setText(column(4));
    for (QLabel *label : {lblSender, lblDate, lblPriority, lblSize})
        label->adjustSize();
}

void DetailPaneWidget::clear()
{
    showTexts({});
}

QStringList DetailPaneWidget::texts() const
{
    return {lblSender->text(), lblSubject->text(), lblDate->text(), lblPriority->text(), lblSize->text()};
}
