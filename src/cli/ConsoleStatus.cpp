#include "ConsoleStatus.h"

#include "ConsoleOutput.h"

namespace {
// A terminal is rewritten no more often than this: a fast server would
// otherwise spend more time on the terminal than on the mail.
constexpr qint64 kRefreshMs = 80;
} // namespace

ConsoleStatus::ConsoleStatus(bool show)
    : m_show(show && ConsoleOutput::errorIsTerminal())
{
}

ConsoleStatus::~ConsoleStatus()
{
    clear();
}

void ConsoleStatus::setStatusText(const QString &text)
{
    if (!m_show || text.isEmpty())
        return;
    if (m_lineShown && m_sinceShown.elapsed() < kRefreshMs)
        return;
    ConsoleOutput::overwriteErrorLine(ConsoleOutput::plain(text));
    m_lineShown = true;
    m_sinceShown.start();
}

void ConsoleStatus::clear()
{
    if (!m_lineShown)
        return;
    ConsoleOutput::overwriteErrorLine(QString());
    m_lineShown = false;
}
