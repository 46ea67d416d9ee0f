#include "MessageBox.h"

#include <QDebug>

namespace MessageBox {

namespace {
Handler &currentHandler()
{
    static Handler handler;
    return handler;
}
} // namespace

Result show(const QString &text, const QString &title, Icon icon, Buttons buttons)
{
    Request request{text, title.isEmpty() ? QString::fromLatin1(kAppTitle) : title, icon, buttons};
    if (const Handler &handler = currentHandler())
        return handler(request);
    qWarning().noquote() << "[" << request.title << "]" << request.text;
    return buttons == Buttons::YesNo ? Result::No : Result::Ok;
}

Handler setHandler(Handler handler)
{
    Handler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}

} // namespace MessageBox
