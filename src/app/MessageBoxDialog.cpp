#include "MessageBoxDialog.h"

#include "DialogFlags.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>

namespace {

// The style's icon pictures, made once: a fresh picture per box would stay
// in Qt's shared pixmap cache, and a window that runs for days shows many.
QPixmap iconPixmap(QMessageBox::Icon icon)
{
    if (icon == QMessageBox::NoIcon)
        return {};
    const QByteArray name = "_trelvik_msgbox_icon_" + QByteArray::number(int(icon));
    QVariant cached = qApp->property(name.constData());
    if (!cached.isValid()) {
        QStyle *style = QApplication::style();
        QStyle::StandardPixmap kind = QStyle::SP_MessageBoxInformation;
        switch (icon) {
        case QMessageBox::Warning:
            kind = QStyle::SP_MessageBoxWarning;
            break;
        case QMessageBox::Critical:
            kind = QStyle::SP_MessageBoxCritical;
            break;
        case QMessageBox::Question:
            kind = QStyle::SP_MessageBoxQuestion;
            break;
        default:
            break;
        }
        const int size = style->pixelMetric(QStyle::PM_MessageBoxIconSize);
        cached = style->standardIcon(kind).pixmap(size, size);
        qApp->setProperty(name.constData(), cached);
    }
    return cached.value<QPixmap>();
}

} // namespace

int messageBoxTitleWidth(const QString &title, const QFont &font)
{
    // The window manager's title bar: the title in a bold font, beside an
    // icon and a close box, with room on both sides.
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics fm(bold);
    return fm.horizontalAdvance(title) + 6 * fm.height() + 24;
}

MessageBox::Result showMessageBoxDialog(const MessageBox::Request &request)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (request.icon) {
    case MessageBox::Icon::None:
        icon = QMessageBox::NoIcon;
        break;
    case MessageBox::Icon::Critical:
        icon = QMessageBox::Critical;
        break;
    case MessageBox::Icon::Exclamation:
        icon = QMessageBox::Warning;
        break;
    case MessageBox::Icon::Question:
        icon = QMessageBox::Question;
        break;
    case MessageBox::Icon::Information:
        icon = QMessageBox::Information;
        break;
    }
    const bool yesNo = request.buttons == MessageBox::Buttons::YesNo;
    QMessageBox box(QMessageBox::NoIcon, request.title, request.text,
                    yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, QApplication::activeWindow(),
                    kDialogWindowFlags);
    box.setObjectName(QStringLiteral("MessageBox"));
    if (icon != QMessageBox::NoIcon)
        box.setIconPixmap(iconPixmap(icon));
    // Server and rule texts are shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(yesNo ? (request.defaultNo ? QMessageBox::No : QMessageBox::Yes) : QMessageBox::Ok);
    QAbstractButton *cancel = nullptr;
    if (yesNo && request.escapeCancels) {
        // Esc and the close box press this hidden button, so that only an
        // explicit No answers No.
        cancel = box.addButton(QMessageBox::Cancel);
        cancel->hide();
        box.setEscapeButton(cancel);
    }
    box.setAccessibleName(request.title);
    // Wide enough for its title: a strut across the box's grid sets its
    // least width.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(messageBoxTitleWidth(request.title, box.font()), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
    if (!yesNo)
        return MessageBox::Result::Ok;
    QAbstractButton *clicked = box.clickedButton();
    if (cancel && (clicked == cancel || !clicked))
        return MessageBox::Result::Cancel;
    return clicked == box.button(QMessageBox::Yes) ? MessageBox::Result::Yes : MessageBox::Result::No;
}

void installMessageBoxDialogs()
{
    MessageBox::setHandler(&showMessageBoxDialog);
}
