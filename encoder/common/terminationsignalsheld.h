#pragma once

#include <pthread.h>
#include <signal.h>

// Holds SIGTERM, SIGINT and SIGHUP back in this thread (and in every thread it starts) for
// as long as it lives; a signal that came meanwhile arrives afterwards. Threads started under
// it never take those signals: they stay with the thread that owns the temporary output file.
class TerminationSignalsHeld {
public:
    TerminationSignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, &m_old);
    }
    ~TerminationSignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
    TerminationSignalsHeld(const TerminationSignalsHeld&) = delete;
    TerminationSignalsHeld& operator=(const TerminationSignalsHeld&) = delete;

private:
    sigset_t m_old;
};
