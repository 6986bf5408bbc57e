// Makes the file calls of platform/FileWrite.h fail the way a full disk, a
// failing drive or a missing permission would, while the object lives.
#pragma once

#include <cerrno>
#include <cstddef>

#include "platform/FileWrite.h"

namespace testing_support {

class FileFault {
public:
    enum class Call { Open, Write, Fsync, Close, Rename };
    // The nth call (1 = the first) of `call` fails with `error`, and every
    // later one too. A failing write first writes half of what it was given,
    // as a disk that fills up does. Error 0 fails nothing but makes every
    // write a short one and the first one interrupted (EINTR).
    FileFault(Call call, int error, int nth = 1) {
        s_state = {call, error, nth, 0, false, false};
        auto& calls = platform::ActiveFileCalls();
        calls.open = [](const char* path, int flags, mode_t mode) {
            return Fails(Call::Open) ? -1 : platform::SystemFileCalls().open(path, flags, mode);
        };
        calls.write = [](int fd, const void* data, std::size_t size) -> ssize_t {
            if (s_state.call == Call::Write && s_state.error == 0) {
                if (!s_state.interrupted) {
                    s_state.interrupted = true;
                    errno = EINTR;
                    return -1;
                }
                return platform::SystemFileCalls().write(fd, data, size < 7 ? size : 7);
            }
            if (s_state.call == Call::Write && s_state.error != 0 && !s_state.cut && s_state.count + 1 == s_state.nth &&
                size > 1) {
                s_state.cut = true;  // the next call fails
                return platform::SystemFileCalls().write(fd, data, size / 2);
            }
            return Fails(Call::Write) ? -1 : platform::SystemFileCalls().write(fd, data, size);
        };
        calls.fsync = [](int fd) { return Fails(Call::Fsync) ? -1 : platform::SystemFileCalls().fsync(fd); };
        calls.close = [](int fd) {
            if (Fails(Call::Close)) {
                platform::SystemFileCalls().close(fd);  // the descriptor is gone all the same
                errno = s_state.error;
                return -1;
            }
            return platform::SystemFileCalls().close(fd);
        };
        calls.rename = [](const char* from, const char* to) {
            return Fails(Call::Rename) ? -1 : platform::SystemFileCalls().rename(from, to);
        };
    }
    FileFault(const FileFault&) = delete;
    FileFault& operator=(const FileFault&) = delete;
    ~FileFault() { platform::ActiveFileCalls() = platform::SystemFileCalls(); }

    // Whether a call failed.
    bool Hit() const { return s_state.error != 0 && s_state.count >= s_state.nth; }

private:
    struct State {
        Call call;
        int error;
        int nth;
        int count;
        bool interrupted;
        bool cut;
    };

    static bool Fails(Call call) {
        if (call != s_state.call || s_state.error == 0) return false;
        if (++s_state.count < s_state.nth) return false;
        errno = s_state.error;
        return true;
    }

    static inline State s_state{};
};

}  // namespace testing_support
