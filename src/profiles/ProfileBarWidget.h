#pragma once

#include "AccountSettings.h"
#include "ProfileStore.h"

#include <QWidget>
#include <functional>

class CurrentProfile;
class QComboBox;
class QLabel;
class QPushButton;
class QFrame;
class ProfileHost;

// The profile bar across the top of the main window: the frame shpProfile,
// the title Label11, the profile box cboProfile and the buttons "New",
// "Delete" and "Setting". Positions are the window's design positions (twips
// converted by the main window), so the widget is placed at the window's
// origin and spans its width.
//
// The bar changes the window's current profile (`profile`, owned by the
// window) on a switch, a deletion and a new profile.
//
// The New Profile and settings dialogs open application-modal over the
// host's dialogParent() and the handlers return at once; the dialogs carry
// the object names "frmNewProfile" and "frmSetting".
class ProfileBarWidget : public QWidget {
    Q_OBJECT
public:
    ProfileBarWidget(ProfileHost &host, CurrentProfile &profile, QWidget *parent = nullptr);

    // Start-up: reads LastProfile, lists the stored profiles (selecting the
    // last one, which runs the selection handler), then loads the box's
    // entry as the current profile.
    void fillFromStore();

    QComboBox *profileBox() const { return cboProfile; }

    // Places the controls at their design positions with the window's
    // conversion from twips to pixels.
    void placeControls(const std::function<int(int)> &px);

    // Lays the bar out for a window of the given outer width in pixels, with
    // the conversion from twips to pixels the window uses.
    void applyWidth(int frameWidthPixels);

public Q_SLOTS:
    // Runs whenever the box's selected entry changes (by the user or by the
    // program) and when the user chooses the entry already shown.
    void cboProfile_Click();
    void cmdNewProfile_Click();
    void cmdDeleteProfile_Click();
    void cmdSetting_Click();

Q_SIGNALS:
    // Whether a profile is chosen (none exists, or none is selected), after
    // start-up and after each change.
    void profilesAvailable(bool any);
    // The profile is gone from the store: what is kept elsewhere under its
    // name (its learning) goes too.
    void profileDeleted(const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cboProfile_KeyPress();
    bool confirmLeavingRecycleBin() const;
    // Writes LastProfile; says so when the write fails.
    void rememberLastProfile(const QString &name);
    void updateProfileButtons();
    // `previousProfile` set: the settings of the profile New just named.
    void openSettingDialog(const std::optional<QString> &previousProfile = std::nullopt,
                           const std::optional<AccountSettings> &found = std::nullopt);
    void addNewProfile(const QString &name);
    int indexOfExactly(const QString &name) const;
    QStringList entries() const;

    ProfileHost &m_host;
    CurrentProfile &m_profile;
    ProfileStore m_store;
    QString m_previousProfile; // the current profile when New was pressed
    static constexpr int kNoChange = -2;
    int m_changedIndex = kNoChange; // the index a change just ran the handler for
    bool m_leavingConfirmed = false; // Delete has asked the Recycle Bin question already
    QFrame *shpProfile = nullptr;
    QLabel *Label11 = nullptr;
    QComboBox *cboProfile = nullptr;
    QPushButton *cmdNewProfile = nullptr;
    QPushButton *cmdDeleteProfile = nullptr;
    QPushButton *cmdSetting = nullptr;
};
