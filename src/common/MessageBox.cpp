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
    return show(Request{text, title, icon, buttons});
}

Result show(Request request)
{
    if (request.title.isEmpty())
        request.title = QString::fromLatin1(kAppTitle);
    if (const Handler &handler = currentHandler())
        return handler(request);
    qWarning().noquote() << "[" << request.title << "]" << request.text;
    if (request.buttons != Buttons::YesNo)
        return Result::Ok;
    return request.escapeCancels ? Result::Cancel : Result::No;
}

Handler setHandler(Handler handler)
{
    Handler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}

} // namespace MessageBox
