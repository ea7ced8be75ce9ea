#include "shutdownsignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The handler may only write to a descriptor; the GUI thread reads the other end.
int g_signalPipe[2] = {-1, -1};
// Set once the event loop runs to read the pipe: before that, a signal ends the program at once.
volatile sig_atomic_t g_listening = 0;
// When a signal was written that the loop has not yet taken up (0: none waits).
volatile sig_atomic_t g_unreadSince = 0;
// A signal not taken up in this many seconds means the loop is stuck: the next one ends the
// program at once.
constexpr long kStuckSeconds = 3;

long Now()
{
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe
    return static_cast<long>(now.tv_sec) + 1;
}

void OnSignal(int signal)
{
    const long now = Now();
    if (!g_listening || (g_unreadSince != 0 && now - g_unreadSince >= kStuckSeconds)) {
        // As if nobody had caught it: the signal's own end, with its status.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    if (g_unreadSince == 0)
        g_unreadSince = static_cast<sig_atomic_t>(now);
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}
} // namespace

ShutdownSignals::ShutdownSignals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    notifier_ = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
        g_unreadSince = 0;
        emit Received();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void ShutdownSignals::Listen()
{
    g_listening = 1;
}

ShutdownSignals::~ShutdownSignals()
{
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signal, SIG_DFL);
    g_listening = 0;
    g_unreadSince = 0;
    delete notifier_;
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}
