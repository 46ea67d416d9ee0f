#pragma once

#include <QLineEdit>

// A line edit of the settings forms, named for tests and for screen readers.
inline QLineEdit *makeField(QWidget *parent, const char *name, const QString &label)
{
    auto *field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setAccessibleName(label);
    return field;
}
