#include "CancelFlag.h"

void CancelFlag::set()
{
    m_set = true;
    Q_EMIT raised();
}
