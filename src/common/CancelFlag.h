#pragma once

#include <QObject>

// Raised by a progress dialog's Cancel (or a signal, or a time limit),
// cleared when a run starts. It is an object so that a wait can end the
// moment it is raised instead of polling for it.
class CancelFlag : public QObject {
    Q_OBJECT
public:
    bool isSet() const { return m_set; }
    void set();
    void clear() { m_set = false; }
Q_SIGNALS:
    void raised();

private:
    bool m_set = false;
};
