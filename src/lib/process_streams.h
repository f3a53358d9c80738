// Redirected standard streams of started programs, shared by the RUN family (process.cpp) and the stream
// built-ins (process_streams.cpp).
//
// Before a start, ChildStreams makes the pipes the run flags ask for: the parent's ends stay private, the
// child's ends are made inheritable and go into the start-up record. After a successful start the child's
// ends are closed and the parent's ends become the process's stream record, found by process id, with one
// background reader per redirected output stream.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tx {

// Owner of a kernel handle (process, thread, pipe end, token, file): closed on every path out.
class WinHandle {
public:
    WinHandle() = default;
    explicit WinHandle(HANDLE h) : h_(h) {}
    WinHandle(const WinHandle&) = delete;
    WinHandle& operator=(const WinHandle&) = delete;
    WinHandle(WinHandle&& o) noexcept : h_(o.release()) {}
    WinHandle& operator=(WinHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    ~WinHandle() { reset(); }
    void reset(HANDLE h = nullptr) {
        if (valid()) CloseHandle(h_);
        h_ = h;
    }
    HANDLE release() {
        HANDLE h = h_;
        h_ = nullptr;
        return h;
    }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    HANDLE* put() {
        reset();
        return &h_;
    }

private:
    HANDLE h_ = nullptr;
};

// Run flags: the low 16 bits select the streams, kRunNewConsole gives the child a console of its own.
constexpr uint32_t kRunStdin = 1;
constexpr uint32_t kRunStdout = 2;
constexpr uint32_t kRunStderr = 4;
constexpr uint32_t kRunMerged = 8;     // standard output and error share one pipe
constexpr uint32_t kRunInherit = 16;   // the runtime's own standard handles; replaces the other bits
constexpr uint32_t kRunNewConsole = 0x10000;

// The handles of one start with redirected streams.
class ChildStreams {
public:
    // Makes the pipes and inheritable child handles for the run flags. False (with the system's last
    // error set) when one could not be made. Does nothing for flags that select no stream.
    bool prepare(uint32_t runFlags);
    // Whether the start must hand standard handles to the child (and let it inherit handles).
    bool redirected() const { return redirected_; }
    // Adds the child's handles to a start-up record.
    void fill(STARTUPINFOW& si) const;
    // After a successful start: closes the child's ends and stores the parent's ends as the stream record
    // of the process, starting the readers.
    void commit(uint32_t pid);

private:
    bool redirected_ = false;
    WinHandle childIn_, childOut_, childErr_;  // inheritable, handed to the child
    WinHandle parentIn_, parentOut_, parentErr_;
};

}  // namespace tx
