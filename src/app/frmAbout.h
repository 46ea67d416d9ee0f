#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

// The About box: program name and version, a notice line and a contact line
// over a picture. Its Close button, Esc or a click on the picture closes it;
// other keys do not.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    // `logicalDpi` converts the box's twips to pixels; the main window passes
    // its own, made larger for a large font.
    explicit frmAbout(QWidget *parent = nullptr, double logicalDpi = 0.0);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();

    double m_dpi = 0.0;
    bool m_dark = false; // a dark scheme was in force when the box opened

    QLabel *imgGlass = nullptr;
    QFrame *shpBox = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lblPrgNam = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *lblContact = nullptr;
    QPushButton *cmdClose = nullptr;
};
