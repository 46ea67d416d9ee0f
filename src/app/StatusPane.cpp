#include "StatusPane.h"

#include "StatusBarWidget.h"

#include <QProgressBar>

StatusPane::StatusPane(StatusBarWidget *statusBar, QProgressBar *progress, QObject *parent)
    : QObject(parent)
    , StatusBar1(statusBar)
    , Progress(progress)
{
}

void StatusPane::placeProgress()
{
    StatusBar1->placeInFirstPanel(Progress);
    Progress->setValue(0);
    Progress->show();
}

void StatusPane::setText(const QString &text)
{
    StatusBar1->setPanelText(text);
}

void StatusPane::setNote(const QString &note)
{
    StatusBar1->setNoteText(note);
}

void StatusPane::setProgressMaximum(int maximum)
{
    Progress->setMaximum(maximum);
}

void StatusPane::setProgressValue(int value)
{
    Progress->setValue(value);
}

void StatusPane::clear()
{
    setText(QString());
    Progress->setValue(0);
}

void StatusPane::announce()
{
    StatusBar1->announce();
}
