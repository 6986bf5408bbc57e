#include "platform/Process.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace platform {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

int OnDisplayIoError(Display*) { DisplayConnectionLost(); }

void SetHandler(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void PrepareProcess() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
    SetHandler(SIGHUP, SIG_IGN);
    SetHandler(SIGPIPE, SIG_IGN);
    SetHandler(SIGTERM, OnStopSignal);
    SetHandler(SIGINT, OnStopSignal);
    // Xlib's own handler calls exit(), which runs the OpenGL driver's and
    // our exit handlers on a connection that is gone, from inside whatever
    // X call noticed it.
    XSetIOErrorHandler(OnDisplayIoError);
}

bool StopRequested() { return g_stopSignal != 0; }

void RestoreDefaultStopSignals() {
    SetHandler(SIGTERM, SIG_DFL);
    SetHandler(SIGINT, SIG_DFL);
    if (const int signal = g_stopSignal) raise(signal);
}

void DisplayConnectionLost() {
    static constexpr char kLine[] = "glimmerwing: the connection to the X display was lost\n";
    [[maybe_unused]] const auto written = write(STDERR_FILENO, kLine, sizeof kLine - 1);
    _exit(1);
}

void ClearStopRequestForTesting() { g_stopSignal = 0; }

}  // namespace platform
