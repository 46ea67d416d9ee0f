#include "frmProgress.h"

#include "DialogFlags.h"
#include "CancelFlag.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The dialog's picture, made once per program run: asking the style afresh
// for every run leaves one more picture in Qt's shared pixmap cache each time.
QPixmap progressPicture(QStyle *style, bool fetch)
{
    const char *name = fetch ? "_trelvik_fetch_picture" : "_trelvik_delete_picture";
    QVariant cached = qApp->property(name);
    if (!cached.isValid()) {
        cached = style->standardIcon(fetch ? QStyle::SP_ArrowDown : QStyle::SP_TrashIcon).pixmap(32, 32);
        qApp->setProperty(name, cached);
    }
    return cached.value<QPixmap>();
}

} // namespace

frmProgress::frmProgress(ProgressKind kind, CancelFlag &cancel, std::function<void(ProgressControl &)> work,
                         QWidget *parent)
    : QDialog(parent, kDialogWindowFlags)
    , m_cancel(cancel)
    , m_work(std::move(work))
{
    // Learning reads from the server as a fetch does: the same picture.
    const bool fetch = kind != ProgressKind::EmptyRecycleBin;
    setObjectName(kind == ProgressKind::FetchInbox            ? QStringLiteral("frmFetchInbox")
                      : kind == ProgressKind::LearnFromServer ? QStringLiteral("frmLearnFromServer")
                                                              : QStringLiteral("frmEmptyRecycleBin"));
    setWindowTitle(QStringLiteral("Please wait..."));
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(progressPicture(style(), fetch));
    lblStatus = new QLabel(kind == ProgressKind::FetchInbox ? QStringLiteral("Fetching Email Header from Server...")
                               : kind == ProgressKind::LearnFromServer
                               ? QStringLiteral("Learning from the server's folders...")
                               : QStringLiteral("Deleting Recycle Bin items..."),
                           this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdCancel, &QPushButton::clicked, this, &frmProgress::cmdCancel_Click);

    auto *top = new QHBoxLayout;
    top->addWidget(Image1);
    top->addWidget(lblStatus, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);

    Form_Load();
}

void frmProgress::Form_Load()
{
    m_cancel.clear();
}

void frmProgress::cmdCancel_Click()
{
    // The run notices the flag in its waits; the dialog stays open until the
    // run has ended its session properly.
    m_cancel.set();
}

void frmProgress::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_timerArmed) {
        m_timerArmed = false; // fires once only
        QTimer::singleShot(100, this, &frmProgress::Timer1_Timer);
    }
}

void frmProgress::Timer1_Timer()
{
    if (m_work)
        m_work(*this);
    closeDialog();
}

void frmProgress::closeDialog()
{
    if (m_closing)
        return;
    m_closing = true;
    done(QDialog::Accepted);
}

void frmProgress::repaintNow()
{
    repaint();
}

void frmProgress::reject()
{
    // Escape acts as Cancel, never as an abrupt close.
    if (!m_closing)
        cmdCancel_Click();
}

void frmProgress::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    cmdCancel_Click();
    event->ignore();
}

void runProgressDialog(ProgressKind kind, QWidget *parent, CancelFlag &cancel,
                       std::function<void(ProgressControl &)> work)
{
    frmProgress dialog(kind, cancel, std::move(work), parent);
    dialog.exec();
}
