#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the name of a new profile. Its OK takes the name (profileName())
// and accepts; the profile bar then makes it current and opens the settings
// dialog. Cancel, Esc and the close box reject: the bar reloads the profile
// current before New.
class frmNewProfile : public QDialog {
    Q_OBJECT
public:
    // `existingNames`: the entries of the profile box, for the duplicate check.
    frmNewProfile(const QStringList &existingNames, QWidget *parent = nullptr);

    // Returns true when the name was taken and the dialog closed.
    bool cmdOK_Click();
    void cmdCancel_Click();
    // The name OK took; empty before.
    const QString &profileName() const { return m_profileName; }

public Q_SLOTS:
    void reject() override;

private:
    void warn(const QString &text, const QString &title);

    QStringList m_existingNames;
    QString m_profileName;
    QLabel *lblProfile = nullptr;
    QLineEdit *txtProfile = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};
