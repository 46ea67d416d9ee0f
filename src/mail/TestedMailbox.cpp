#include "TestedMailbox.h"

QString waitingText(qint64 count)
{
    return count == 1 ? QStringLiteral("1 message waiting") : QStringLiteral("%1 messages waiting").arg(count);
}
