#include "frmAbout.h"

#include "DialogFlags.h"
#include "AppIcons.h"
#include "ListBands.h"
#include "TrelvikVersion.h"
#include "Twips.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

QLabel *label(QWidget *parent, const QString &name, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setAccessibleName(text);
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

frmAbout::frmAbout(QWidget *parent, double logicalDpi)
    : QDialog(parent, kDialogWindowFlags)
    , m_dpi(logicalDpi)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Trelvik"));
    setAccessibleName(QStringLiteral("About Trelvik"));
    setModal(true);

    imgGlass = new QLabel(this);
    imgGlass->setObjectName(QStringLiteral("imgGlass"));
    imgGlass->setAccessibleName(QStringLiteral("Close About"));
    imgGlass->setCursor(Qt::PointingHandCursor);
    imgGlass->installEventFilter(this);

    shpBox = new QFrame(this);
    shpBox->setObjectName(QStringLiteral("shpBox"));
    shpBox->setAccessibleName(QStringLiteral("shpBox"));
    shpBox->setFrameShape(QFrame::Box);
    shpBox->setAttribute(Qt::WA_TransparentForMouseEvents);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(QStringLiteral("Trelvik"));
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);

    lblPrgNam = label(this, QStringLiteral("lblPrgNam"), QString());
    QFont big = lblPrgNam->font();
    big.setBold(true);
    big.setPointSize(14);
    lblPrgNam->setFont(big);
    lblCopyright =
        label(this, QStringLiteral("lblCopyright"),
              QStringLiteral("Trelvik is free to use. It deletes or moves messages on your server only when you "
                             "ask it to."));
    lblContact = label(this, QStringLiteral("lblContact"),
                       QStringLiteral("For help, choose Help > Content in the main window."));
    // The picture behind follows the scheme: light green on a light one,
    // dark green under a dark one's light text.
    m_dark = ListBands::isDark(QApplication::palette(this));
    for (QLabel *l : {lblPrgNam, lblCopyright, lblContact}) {
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, m_dark ? QColor(0xF0, 0xF0, 0xF0) : QColor(0x10, 0x10, 0x10));
        l->setPalette(pal);
    }
    // A visible way out for those who do not know Esc or the picture.
    cmdClose = new QPushButton(QStringLiteral("Close"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setAccessibleName(QStringLiteral("Close"));
    cmdClose->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);

    Form_Load();
}

void frmAbout::Form_Load()
{
    const double dpi = m_dpi > 0 ? m_dpi : screen() ? screen()->logicalDotsPerInchY() : 96.0;
    const auto px = [dpi](int twips) { return Twips::toPixels(twips, dpi); };

    lblPrgNam->setText(QStringLiteral("Trelvik ") + QLatin1String(kTrelvikVersion));
    lblPrgNam->setAccessibleName(lblPrgNam->text());
    lblPrgNam->adjustSize();
    lblCopyright->adjustSize();
    lblContact->adjustSize();

    // The box is as wide as the notice line plus 2000 twips.
    const int b = lblCopyright->width() + px(2000);
    const QSize close = cmdClose->sizeHint();
    // The design's height, or more when a large font pushes the button down.
    const int height = std::max(px(2400), px(1500) + lblContact->height() + px(120) + close.height() + px(280));
    setFixedSize(b, height);
    imgGlass->setGeometry(0, 0, b, height);
    shpBox->setGeometry(px(140), px(140), b - px(280), height - px(280));

    QPixmap glass(imgGlass->size() * devicePixelRatioF());
    glass.setDevicePixelRatio(devicePixelRatioF());
    QPainter p(&glass);
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0.0, m_dark ? QColor(0x1A, 0x26, 0x1C) : QColor(0xF4, 0xFF, 0xF5));
    gradient.setColorAt(1.0, m_dark ? QColor(0x1E, 0x40, 0x25) : QColor(0xCC, 0xFF, 0xD0));
    p.fillRect(QRect(0, 0, b, height), gradient);
    p.end();
    imgGlass->setPixmap(glass);

    const int icon = px(720);
    Image1->setPixmap(AppIcons::appIcon().pixmap(QSize(icon, icon), devicePixelRatioF()));
    Image1->setGeometry(px(420), px(400), icon, icon);
    lblPrgNam->move(px(1300), px(400));
    lblCopyright->move(px(1300), px(1100));
    lblContact->move(px(1300), px(1500));
    cmdClose->setGeometry(b - px(280) - close.width(), height - px(280) - close.height(), close.width(),
                          close.height());
    cmdClose->setFocus();
}

void frmAbout::keyPressEvent(QKeyEvent *event)
{
    // Only Esc closes the box, and on its release; Enter and the rest do nothing.
    event->accept();
}

void frmAbout::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && !event->isAutoRepeat())
        reject();
    event->accept();
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == imgGlass && event->type() == QEvent::MouseButtonRelease) {
        reject();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
