// Console streams: CONSOLEWRITE and CONSOLEWRITEERROR write to the process's standard output and error,
// CONSOLEREAD takes what a background reader has gathered from standard input.
//
// StreamReader is the reader object shared with the process layer (a child's redirected output): one
// thread reads a pipe or file in blocks and appends to a growing buffer under a lock; the script thread
// takes the bytes without ever blocking.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace tx {

class StreamReader {
public:
    enum State : int32_t { Reading = 501, Ended = 502 };

    // Starts reading from handle. An owned handle is closed once both the reader and its thread are done
    // with it (a child's pipe); otherwise the caller keeps it open for as long as the reader exists.
    explicit StreamReader(HANDLE handle, bool ownsHandle = false);
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // Copies the gathered bytes into out; unless peek, they are removed from the buffer.
    void take(std::string& out, bool peek);
    bool ended() const;
    bool empty() const;

    struct Shared;  // buffer, lock and state; kept alive by the thread until it ends

private:
    std::shared_ptr<Shared> s_;
    HANDLE thread_ = nullptr;
};

// Creates the standard-input reader when the process has a standard input (called once at start-up).
void startStdinReader();

}  // namespace tx
