#pragma once

#include <QString>
#include <functional>

// Every message box of the program goes through showMessage(), so that the
// logic never includes widgets and tests can answer boxes without a screen.
// The application installs a handler that shows a real QMessageBox.
namespace MessageBox {

enum class Icon { None, Critical, Exclamation, Question, Information };
enum class Buttons { Ok, YesNo };
// Cancel: a Yes/No box that allows it was closed by Esc or its close box.
enum class Result { Ok, Yes, No, Cancel };

struct Request {
    QString text;
    QString title;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
    // A question whose Yes destroys something answers Enter with No.
    bool defaultNo = false;
    // Esc and the close box answer Cancel instead of No: only an explicit No
    // means No.
    bool escapeCancels = false;
};

using Handler = std::function<Result(const Request &)>;

// The application's title, borne by a box given no title of its own.
inline constexpr const char *kAppTitle = "Trelvik";

Result show(const QString &text, const QString &title, Icon icon, Buttons buttons = Buttons::Ok);
Result show(Request request);

// Installs the handler and returns the previous one. Without a handler a box
// is written to stderr and answered Ok / No, so nothing ever blocks.
Handler setHandler(Handler handler);

} // namespace MessageBox
