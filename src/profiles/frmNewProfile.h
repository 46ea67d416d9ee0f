#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the name of a new profile. Its OK makes the name current (with
// NewProfileFlag 1) and accepts; the settings dialog then follows. Cancel,
// Esc and the close box put PreviousProfile back and reload it.
class frmNewProfile : public QDialog {
    Q_OBJECT
public:
    // `existingNames`: the entries of the profile box, for the duplicate check.
    frmNewProfile(const QStringList &existingNames, QWidget *parent = nullptr);

    // Returns true when the name was taken and the dialog closed.
    bool cmdOK_Click();
    void cmdCancel_Click();

public Q_SLOTS:
    void reject() override;

private:
    void warn(const QString &text, const QString &title);

    QStringList m_existingNames;
    QLabel *lblProfile = nullptr;
    QLineEdit *txtProfile = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};
