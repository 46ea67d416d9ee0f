#include "KeyringWaitDialog.h"

#include <QApplication>
#include <QPointer>
#include <QProgressDialog>

KeyringWaitIndicator keyringWaitDialog()
{
    return [](const QString &text, const std::function<void()> &cancel) -> std::function<void()> {
        auto *box = new QProgressDialog(text, QStringLiteral("Cancel"), 0, 0, QApplication::activeWindow());
        box->setObjectName(QStringLiteral("dlgKeyringWait"));
        box->setWindowTitle(QStringLiteral("Desktop Keyring"));
        box->setWindowModality(Qt::ApplicationModal);
        box->setMinimumDuration(0);
        box->setAutoClose(false);
        box->setAutoReset(false);
        QObject::connect(box, &QProgressDialog::canceled, box, [cancel] { cancel(); });
        box->show();
        QPointer<QProgressDialog> shown(box);
        return [shown] {
            if (!shown)
                return;
            QObject::disconnect(shown, &QProgressDialog::canceled, nullptr, nullptr);
            delete shown.data();
        };
    };
}

void installKeyringWaitDialog()
{
    setDesktopKeyringWaitIndicator(keyringWaitDialog());
}
