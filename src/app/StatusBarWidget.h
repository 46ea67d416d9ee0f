#pragma once

#include <QStatusBar>

class QLabel;
class QFrame;

// StatusBar1: two panels. The first, of fixed width, holds the progress bar
// once the window places it there; the second carries the status texts.
class StatusBarWidget : public QStatusBar {
    Q_OBJECT
public:
    StatusBarWidget(int firstPanelWidth, int height, QWidget *parent = nullptr);

    QString panelText() const;
    void setPanelText(const QString &text);
    // The third panel, at the right end, shown only while it has a text.
    QString noteText() const;
    void setNoteText(const QString &text);
    // Tells a screen reader the status text now shown (the end of a run).
    void announce();

    QWidget *firstPanel() const;
    // Makes `widget` a child of the first panel, filling it.
    void placeInFirstPanel(QWidget *widget);

private:
    QFrame *m_first = nullptr;
    QLabel *m_second = nullptr;
    QLabel *m_note = nullptr;
};
