#include "ByteLimitValidator.h"

ByteLimitValidator::ByteLimitValidator(int maxBytes, QObject *parent)
    : QValidator(parent)
    , m_maxBytes(maxBytes)
{
}

QValidator::State ByteLimitValidator::validate(QString &input, int &) const
{
    return input.toUtf8().size() <= m_maxBytes ? Acceptable : Invalid;
}
