#pragma once

#include <QValidator>

// Refuses input whose UTF-8 form is longer than a number of bytes: the stored
// password form counts bytes, while a line edit's maximum length counts
// UTF-16 units.
class ByteLimitValidator : public QValidator {
    Q_OBJECT
public:
    ByteLimitValidator(int maxBytes, QObject *parent);
    State validate(QString &input, int &pos) const override;

private:
    int m_maxBytes;
};
