#include "GuardedCommand.h"

#include "MessageBox.h"

#include <exception>

void guarded(const std::function<void()> &command)
{
    try {
        command();
    } catch (const std::exception &e) {
        MessageBox::show(QString::fromUtf8(e.what()), QStringLiteral("Error"), MessageBox::Icon::Critical);
    }
}
