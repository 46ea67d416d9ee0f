#include "StatusBarWidget.h"

#include <QAccessible>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>

StatusBarWidget::StatusBarWidget(int firstPanelWidth, int height, QWidget *parent)
    : QStatusBar(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setAccessibleName(QStringLiteral("Status"));
    setSizeGripEnabled(true);
    setFixedHeight(height);

    m_first = new QFrame(this);
    m_first->setObjectName(QStringLiteral("StatusBar1Panel1"));
    m_first->setAccessibleName(QStringLiteral("Progress"));
    m_first->setFrameShape(QFrame::NoFrame);
    m_first->setFixedWidth(firstPanelWidth);
    auto *layout = new QHBoxLayout(m_first);
    layout->setContentsMargins(1, 1, 1, 1);
    addWidget(m_first);

    m_second = new QLabel(QStringLiteral("Offline"), this);
    m_second->setObjectName(QStringLiteral("StatusBar1Panel2"));
    // No fixed name: a screen reader reads the shown text as the label's
    // name, and hears each change.
    m_second->setAccessibleDescription(QStringLiteral("Status Text"));
    m_second->setTextFormat(Qt::PlainText);
    // A long text is cut at the window's edge (its tip shows it whole): it
    // must not make the window wider.
    m_second->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    addWidget(m_second, 1);

    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("StatusBar1Panel3"));
    m_note->setTextFormat(Qt::PlainText);
    m_note->hide();
    addPermanentWidget(m_note);
}

QString StatusBarWidget::panelText() const
{
    return m_second->text();
}

void StatusBarWidget::setPanelText(const QString &text)
{
    m_second->setText(text);
    m_second->setToolTip(text);
    QAccessibleEvent event(m_second, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

QString StatusBarWidget::noteText() const
{
    return m_note->text();
}

void StatusBarWidget::setNoteText(const QString &text)
{
    m_note->setText(text);
    m_note->setVisible(!text.isEmpty());
    if (text.isEmpty())
        return;
    QAccessibleEvent event(m_note, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

void StatusBarWidget::announce()
{
    QAccessibleEvent event(m_second, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

QWidget *StatusBarWidget::firstPanel() const
{
    return m_first;
}

void StatusBarWidget::placeInFirstPanel(QWidget *widget)
{
    m_first->layout()->addWidget(widget);
}
