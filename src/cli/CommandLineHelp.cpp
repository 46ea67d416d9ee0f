#include "CommandLine.h"

#include "OptionTable.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace CommandLine {

QString helpText()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Screens a POP3 or IMAP mailbox by its headers: sorts the waiting messages into an Inbox "
                       "and a Recycle Bin by the filter and exempted lists, and deletes the Recycle Bin on the "
                       "server (an IMAP profile moves it to its Junk or Trash folder, or deletes it, as its "
                       "settings say).\n"
                       "Without options the window starts. The command line never asks a question: a "
                       "certificate that is not trusted, a missing password or a sign-in that needs the browser "
                       "end the run with a message; settle them in the window."));
    OptionTable::addTo(parser);
    QString text = parser.helpText();
    // The first line names the program as it was started; say "trelvik".
    text = QStringLiteral("Usage: trelvik [options]") + text.mid(text.indexOf(QLatin1Char('\n')));
    text += QStringLiteral("\nExit codes:\n"
                           "  0  done\n"
                           "  1  other failure (rule database, file input or output, a refused line in\n"
                           "     a rule file, cancelled)\n"
                           "  2  usage error\n"
                           "  3  not configured (unknown profile, no profile, a missing setting such as\n"
                           "     the password or the OAuth2 client ID)\n"
                           "  4  connection or login failure (also an untrusted certificate, an OAuth2\n"
                           "     sign-in that needs the browser, or a check past --timeout: the server\n"
                           "     did not finish in time)\n"
                           "  5  partly deleted (some Recycle Bin messages are still on the server)\n"
                           "  6  busy (the window or another check is running)\n"
                           "\nTimer:\n"
                           "  A systemd user timer, installed but not enabled, runs\n"
                           "  \"trelvik --check --delete --quiet --all\" every 15 minutes:\n"
                           "    systemctl --user enable --now trelvik-check.timer\n"
                           "  To check without deleting, or to pick profiles instead of all of them,\n"
                           "  override its command:\n"
                           "    systemctl --user edit trelvik-check.service\n"
                           "  and write there, for instance:\n"
                           "    [Service]\n"
                           "    ExecStart=\n"
                           "    ExecStart=%1 --check --quiet --all\n"
                           "  or, for the profiles Work and Home alone, one line each (the \"-\" lets\n"
                           "  the next line run when one fails):\n"
                           "    ExecStart=-%1 --check --delete --quiet --profile Work\n"
                           "    ExecStart=-%1 --check --delete --quiet --profile Home\n"
                           "  A user's timer runs only while they are logged in; to let it run after\n"
                           "  logout and from boot:   loginctl enable-linger\n"
                           "  What the runs printed:   journalctl --user -u trelvik-check.service\n"
                           "  Stop it:   systemctl --user disable --now trelvik-check.timer\n"
                           "\nWatch:\n"
                           "  A systemd user service, installed but not enabled, runs \"trelvik --watch\"\n"
                           "  for the IMAP profile named after the @:\n"
                           "    systemctl --user enable --now trelvik-watch@Work.service\n"
                           "  While it runs it holds the data folder: stop it before starting the window.\n")
                .arg(QCoreApplication::applicationFilePath());
    return text;
}

} // namespace CommandLine
