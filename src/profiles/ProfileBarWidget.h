#pragma once

#include <QWidget>

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
class ProfileBarWidget : public QWidget {
    Q_OBJECT
public:
    explicit ProfileBarWidget(ProfileHost &host, QWidget *parent = nullptr);

    // Start-up: reads LastProfile, lists the stored profiles (selecting the
    // last one, which runs the selection handler), then sets CurrentProfile to
    // the box's text and loads it.
    void fillFromStore();

    QComboBox *profileBox() const { return cboProfile; }

    // Lays the bar out for a window of the given outer width in pixels, with
    // the conversion from twips to pixels the window uses.
    void applyWidth(int frameWidthPixels);

public Q_SLOTS:
    void cboProfile_Click();
    void cmdNewProfile_Click();
    void cmdDeleteProfile_Click();
    void cmdSetting_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    ProfileHost &m_host;
    QFrame *shpProfile = nullptr;
    QLabel *Label11 = nullptr;
    QComboBox *cboProfile = nullptr;
    QPushButton *cmdNewProfile = nullptr;
    QPushButton *cmdDeleteProfile = nullptr;
    QPushButton *cmdSetting = nullptr;
};
