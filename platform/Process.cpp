#include "platform/Process.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace platform {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

int OnDisplayIoError(Display*) { DisplayConnectionLost(); }

// The local X server's socket, for a crash handler to knock on: its path and
// the same name in the abstract namespace (an X server listens on both, or on
// one of them). Empty when the display is remote or not named.
sockaddr_un g_serverSocket[2]{};
socklen_t g_serverSocketLength[2]{};

void FindServerSocket() {
    const char* display = std::getenv("DISPLAY");
    std::string_view name = display ? display : "";
    if (name.starts_with("unix:")) name.remove_prefix(4);
    if (!name.starts_with(':')) return;  // a remote display, or none
    name.remove_prefix(1);
    const std::size_t digits = name.find_first_not_of("0123456789");
    const std::string_view number = name.substr(0, digits);
    if (number.empty() || number.size() > 6) return;
    constexpr std::string_view kFolder = "/tmp/.X11-unix/X";
    for (int i = 0; i < 2; ++i) {
        sockaddr_un& address = g_serverSocket[i];
        address.sun_family = AF_UNIX;
        char* path = address.sun_path + i;  // the abstract name starts with a zero byte
        std::memcpy(path, kFolder.data(), kFolder.size());
        std::memcpy(path + kFolder.size(), number.data(), number.size());
        g_serverSocketLength[i] =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + i + kFolder.size() + number.size() + (1 - i));
    }
}

// Async-signal-safe: true when a local X server was named and answers on
// neither of its sockets.
bool ServerGone() {
    if (g_serverSocketLength[0] == 0) return false;
    for (int i = 0; i < 2; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        const bool answered =
            connect(fd, reinterpret_cast<const sockaddr*>(&g_serverSocket[i]), g_serverSocketLength[i]) == 0;
        close(fd);
        if (answered) return false;
    }
    return true;
}

struct sigaction g_previousCrash[2];
constexpr int kCrashSignals[2] = {SIGSEGV, SIGBUS};

// The OpenGL driver's GLX code does not check every reply: when the X server
// dies in the middle of its set-up (window and context creation in the first
// second), it can crash before Xlib notices the broken connection. A crash
// while the server is gone is that loss; any other crash goes on to the
// handler that was there before (the default: a core; or a sanitizer's).
void OnCrash(int signal, siginfo_t* info, void*) {
    if (ServerGone()) DisplayConnectionLost();
    const int k = signal == SIGSEGV ? 0 : 1;
    sigaction(signal, &g_previousCrash[k], nullptr);
    // A fault comes back when the instruction runs again; a sent signal does not.
    if (info->si_code <= 0) raise(signal);
}

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

    FindServerSocket();
    for (int k = 0; k < 2; ++k) {
        struct sigaction action {};
        action.sa_sigaction = OnCrash;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO;
        sigaction(kCrashSignals[k], &action, &g_previousCrash[k]);
    }
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
