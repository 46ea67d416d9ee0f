#include "DetailPaneWidget.h"

#include "HeaderDisplay.h"

#include <QLabel>

#include <algorithm>

DetailPaneWidget::DetailPaneWidget(std::function<int(int)> toPixels, QWidget *parent)
    : QFrame(parent)
    , m_px(std::move(toPixels))
{
    setObjectName(QStringLiteral("picDetail"));
    setAccessibleName(QStringLiteral("Message Details"));
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);

    QLabel *date = addCaption(QStringLiteral("Date:"), 120, 120);
    QLabel *priority = m_priorityCaption = addCaption(QStringLiteral("Priority:"), 4200, 120);
    QLabel *size = m_sizeCaption = addCaption(QStringLiteral("Size:"), 5880, 120);
    QLabel *sender = addCaption(QStringLiteral("Sender:"), 120, 360);
    QLabel *subject = addCaption(QStringLiteral("Subject:"), 120, 600);
    QLabel *rule = addCaption(QStringLiteral("Rule:"), 120, 840);

    lblDate = addValue(QStringLiteral("lblDate"), QStringLiteral("Date"), date, 960, 120);
    lblPriority = addValue(QStringLiteral("lblPriority"), QStringLiteral("Priority"), priority, 4920, 120);
    lblSize = addValue(QStringLiteral("lblSize"), QStringLiteral("Size"), size, 6360, 120);
    lblSender = addValue(QStringLiteral("lblSender"), QStringLiteral("Sender"), sender, 960, 360);
    lblSubject = addValue(QStringLiteral("lblSubject"), QStringLiteral("Subject"), subject, 960, 600);
    lblRule = addValue(QStringLiteral("lblRule"), QStringLiteral("Rule"), rule, 960, 840);
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

QLabel *DetailPaneWidget::addValue(const QString &name, const QString &accessibleName, QLabel *caption, int left,
                                   int top)
{
    auto *value = new QLabel(this);
    value->setObjectName(name);
    value->setAccessibleName(accessibleName + QLatin1Char(':'));
    value->setAccessibleDescription(accessibleName);
    value->setTextFormat(Qt::PlainText);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The design position, unless this screen's bold caption is wider than
    // the design's font made it: then just after the caption.
    value->move(std::max(m_px(left), caption->geometry().right() + m_px(90)), m_px(top));
    return value;
}

void DetailPaneWidget::showTexts(const QStringList &columns, const QString &rule)
{
    const auto column = [&](int i) { return i < columns.size() ? columns.at(i) : QString(); };
    m_sender = column(0);
    m_subject = column(1);
    lblDate->setText(column(2));
    lblPriority->setText(column(3));
    lblSize->setText(column(4));
    m_rule = rule;
    lblRule->setText(rule);
    // A screen reader reads each value with its caption ("Sender: ...");
    // setting the name reports the change.
    for (QLabel *label : {lblDate, lblPriority, lblSize, lblRule})
        label->setAccessibleName(label->accessibleDescription() + QStringLiteral(": ") + label->text().trimmed());
    lblSender->setAccessibleName(lblSender->accessibleDescription() + QStringLiteral(": ") + m_sender.trimmed());
    lblSubject->setAccessibleName(lblSubject->accessibleDescription() + QStringLiteral(": ") + m_subject.trimmed());
    for (QLabel *label : {lblDate, lblPriority, lblSize, lblRule})
        label->adjustSize();
    fitSizeField();
    fitLines();
}

void DetailPaneWidget::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    fitSizeField();
    fitLines();
}

void DetailPaneWidget::fitLines()
{
    // A sender, subject or rule longer than its line is cut with "...",
    // whole in the tooltip (a screen reader has all of it). The sender keeps
    // both ends, its name and the address that tells who sent it; a learned
    // verdict's reasons easily run past the pane.
    const auto fit = [this](QLabel *label, const QString &whole, Qt::TextElideMode mode) {
        const QFontMetrics metrics = label->fontMetrics();
        const int width = std::max(0, contentsRect().right() - m_px(60) - label->x());
        label->resize(width, metrics.height());
        const QString shown = metrics.elidedText(whole, mode, width);
        label->setText(shown);
        label->setToolTip(shown == whole ? QString() : HeaderDisplay::plainToolTip(whole));
    };
    fit(lblSender, m_sender, Qt::ElideMiddle);
    fit(lblSubject, m_subject, Qt::ElideRight);
    fit(lblRule, m_rule, Qt::ElideRight);
}

void DetailPaneWidget::fitSizeField()
{
    // The size sits at its design place unless that runs past the pane's
    // right edge (a narrow window, a wide font): then it moves left up to the
    // priority caption, and a long priority is cut short rather than drawn
    // under it. The size is the more useful of the two when reviewing.
    const int gap = m_px(90);
    const int right = contentsRect().right() - m_px(60);
    // Right of the whole priority when a wide font makes it reach past the
    // design place, so that it is not cut while the pane has room.
    lblPriority->adjustSize();
    int captionX = std::max(m_px(5880), lblPriority->geometry().right() + gap);
    int valueX = std::max(m_px(6360), captionX + m_sizeCaption->width() + gap);
    const int overflow = valueX + lblSize->width() - right;
    if (overflow > 0) {
        const int room = captionX - (m_priorityCaption->geometry().right() + gap);
        const int shift = std::clamp(overflow, 0, std::max(room, 0));
        captionX -= shift;
        valueX -= shift;
    }
    m_sizeCaption->move(captionX, m_sizeCaption->y());
    lblSize->move(valueX, lblSize->y());
    lblPriority->adjustSize();
    lblPriority->resize(std::clamp(captionX - gap - lblPriority->x(), 0, lblPriority->width()), lblPriority->height());
}

void DetailPaneWidget::clear()
{
    showTexts({});
}

QStringList DetailPaneWidget::texts() const
{
    return {m_sender, m_subject, lblDate->text(), lblPriority->text(), lblSize->text()};
}
