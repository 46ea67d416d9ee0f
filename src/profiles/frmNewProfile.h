#pragma once

#include "AccountSettings.h"

#include <QDialog>
#include <QStringList>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the name of a new profile and, if the user wants, the email
// address whose settings are then searched for (Find Settings; its Cancel
// skips the search). Its OK takes the name (profileName()) and accepts; the profile bar then makes it current and opens
// the settings dialog. Cancel, Esc and the close box reject: the bar reloads the profile current before New.
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
    // The settings the user took from the search; empty when there was none.
    const std::optional<AccountSettings> &foundSettings() const { return m_found; }

public Q_SLOTS:
    void reject() override;

private:
    void warn(const QString &text, const QString &title);

    // Searches for the address's settings, then takes `name` and accepts.
    void findSettings(const QString &name, const QString &address);

    QStringList m_existingNames;
    QString m_profileName;
    std::optional<AccountSettings> m_found;
    QLabel *lblProfile = nullptr;
    QLineEdit *txtProfile = nullptr;
    QLineEdit *txtAddress = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};
