#pragma once

#include "AccountSettings.h"
#include "DiscoverySeam.h"

#include <QDialog>
#include <optional>

class AccountFinder;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Finds the incoming server of an email address: the address, Find, a line
// saying what the search does, the choices found with where each came from
// (the preferred one selected). OK takes the selected choice, after asking
// when it would send the password in clear; Cancel stops a running search,
// or else closes the dialog.
class frmFindSettings : public QDialog {
    Q_OBJECT
public:
    // A non-empty address is searched for as soon as the dialog shows.
    explicit frmFindSettings(const QString &address, QWidget *parent = nullptr, const DiscoverySeam &seam = {});

    void cmdFind_Click();
    bool cmdOK_Click();
    void cmdCancel_Click();
    // The choice OK took; empty before.
    const std::optional<AccountSettings> &chosen() const { return m_chosen; }
    QString address() const;

public Q_SLOTS:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void showChoices(const QList<AccountSettings> &choices);
    void setSearching(bool searching);

    AccountFinder *m_finder;
    QList<AccountSettings> m_choices;
    std::optional<AccountSettings> m_chosen;
    bool m_autoFind = false;
    QLineEdit *txtAddress = nullptr;
    QPushButton *cmdFind = nullptr;
    QLabel *lblProgress = nullptr;
    QListWidget *lstChoices = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
};
