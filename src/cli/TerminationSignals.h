#pragma once

#include <QSocketNotifier>
#include <memory>

class CancelFlag;

// SIGINT and SIGTERM (Ctrl+C, systemd stopping a run or the watch) cancel
// the run as the window's Cancel button does, so that nothing is left half
// done: a deletion not yet confirmed by the server is then not made at all.
// A second signal ends the program at once. One at a time.
class TerminationSignals {
public:
    explicit TerminationSignals(CancelFlag &cancel);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

private:
    static inline int s_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};
