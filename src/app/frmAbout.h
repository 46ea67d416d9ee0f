#pragma once

#include <QDialog>

class QFrame;
class QLabel;

// The About box: program name and version, a notice line and a contact line
// over a picture. Esc or a click on the picture closes it; other keys do not.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();

    QLabel *imgGlass = nullptr;
    QFrame *shpBox = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lblPrgNam = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *lblContact = nullptr;
};
