#include "app/unix_signal_watcher.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/log.h"

namespace tx710 {

namespace {

int g_fds[2] = {-1, -1}; // [0] written by the handler, [1] read by the notifier
std::vector<int> g_watched;
volatile std::sig_atomic_t g_signalled = 0;

void onSignal(int signal_number)
{
    const int saved_errno = errno;
    g_signalled = 1;
    const unsigned char byte = static_cast<unsigned char>(signal_number);
    // A full pair drops the byte; one pending signal is enough to quit.
    [[maybe_unused]] const ssize_t written = ::write(g_fds[0], &byte, 1);
    errno = saved_errno;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(std::initializer_list<int> signal_numbers, QObject* parent) : QObject(parent)
{
    if (g_fds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) {
        TX_LOG << "signal watcher: no socket pair:" << (g_fds[0] >= 0 ? "one exists already" : std::strerror(errno));
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(g_fds[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &UnixSignalWatcher::readSignals);
    watching_ = true;
    for (const int signal_number : signal_numbers) {
        struct sigaction action {
        };
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(signal_number, &action, nullptr) != 0) {
            TX_LOG << "signal watcher: cannot handle signal" << signal_number << std::strerror(errno);
            watching_ = false;
            continue;
        }
        g_watched.push_back(signal_number);
    }
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    struct sigaction action {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : g_watched)
        ::sigaction(signal_number, &action, nullptr);
    g_watched.clear();
    if (!notifier_)
        return;
    notifier_.reset();
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

bool UnixSignalWatcher::signalled()
{
    return g_signalled != 0;
}

void UnixSignalWatcher::readSignals()
{
    unsigned char bytes[16];
    ssize_t count;
    while ((count = ::read(g_fds[1], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            emit unixSignal(bytes[i]);
    }
}

} // namespace tx710
