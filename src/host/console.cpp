// Console output and input: CONSOLEWRITE, CONSOLEWRITEERROR, CONSOLEREAD and the background reader of
// standard input.
//
// Output goes straight to the standard handles as bytes: a Binary unchanged, anything else as its string
// form in the ANSI code page, never with line-ending translation, so the byte count returned is exactly
// what reached the stream. Input is read by a thread started before the script, so CONSOLEREAD never
// blocks: it returns what has arrived so far, then reports the end of input once (@error 1) and no
// reader from then on (@error 2).
#include "host/console.h"

#include <mutex>

#include "core/core_builtins.h"
#include "core/engine.h"
#include "core/errors.h"
#include "core/platform.h"

namespace tx {

// ---------------------------------------------------------------------------------------------------
// StreamReader

struct StreamReader::Shared {
    HANDLE handle = nullptr;
    bool ownsHandle = false;
    std::mutex lock;
    std::string buffer;
    volatile LONG state = StreamReader::Reading;
    volatile LONG stop = 0;  // the reader is gone: the thread reads no further block
    ~Shared() {
        if (ownsHandle && handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

namespace {

DWORD WINAPI readerThread(void* param) {
    auto* holder = static_cast<std::shared_ptr<StreamReader::Shared>*>(param);
    std::shared_ptr<StreamReader::Shared> s = std::move(*holder);
    delete holder;
    char block[65535];
    while (!s->stop) {
        DWORD got = 0;
        if (!ReadFile(s->handle, block, sizeof block, &got, nullptr) || got == 0) break;
        std::lock_guard<std::mutex> g(s->lock);
        size_t need = s->buffer.size() + got;
        if (need > s->buffer.capacity()) s->buffer.reserve(need + need / 2);
        s->buffer.append(block, got);
    }
    InterlockedExchange(&s->state, StreamReader::Ended);
    return 0;
}

}  // namespace

StreamReader::StreamReader(HANDLE handle, bool ownsHandle) : s_(std::make_shared<Shared>()) {
    s_->handle = handle;
    s_->ownsHandle = ownsHandle;
    auto* holder = new std::shared_ptr<Shared>(s_);
    thread_ = CreateThread(nullptr, 0, readerThread, holder, 0, nullptr);
    if (!thread_) {
        delete holder;
        s_->state = Ended;
    }
}

StreamReader::~StreamReader() {
    if (thread_) {
        // A read still blocked is cancelled (and a thread between two reads stops before the next); the
        // thread keeps the shared part, and so an owned handle, alive until it ends.
        InterlockedExchange(&s_->stop, 1);
        if (s_->state == Reading) CancelSynchronousIo(thread_);
        CloseHandle(thread_);
    }
}

void StreamReader::take(std::string& out, bool peek) {
    std::lock_guard<std::mutex> g(s_->lock);
    out = s_->buffer;
    if (!peek) s_->buffer.clear();
}

bool StreamReader::ended() const { return s_->state == Ended; }

bool StreamReader::empty() const {
    std::lock_guard<std::mutex> g(s_->lock);
    return s_->buffer.empty();
}

// ---------------------------------------------------------------------------------------------------
// Standard streams

namespace {

std::unique_ptr<StreamReader>& stdinReader() {
    static std::unique_ptr<StreamReader> r;
    return r;
}

bool validHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// Writes the argument to a standard handle; returns the number of bytes written.
int32_t writeStream(DWORD which, const Variant& data) {
    std::string ansi;
    const char* bytes;
    size_t n;
    if (data.is(Kind::Binary)) {
        bytes = reinterpret_cast<const char*>(data.binaryData());
        n = data.binaryLength();
    } else {
        const SString& s = data.toString();
        if (runState().debugOutput && !s.empty()) OutputDebugStringW(reinterpret_cast<LPCWSTR>(s.c_str()));
        ansi = platform::toAnsi(s.view());
        bytes = ansi.data();
        n = ansi.size();
    }
    HANDLE h = GetStdHandle(which);
    if (!validHandle(h) || n == 0) return 0;
    size_t total = 0;
    while (total < n) {
        DWORD chunk = static_cast<DWORD>(n - total > 0x10000000 ? 0x10000000 : n - total);
        DWORD written = 0;
        if (!WriteFile(h, bytes + total, chunk, &written, nullptr) || written == 0) break;
        total += written;
    }
    return static_cast<int32_t>(total);
}

}  // namespace

void startStdinReader() {
    if (stdinReader()) return;
    HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (!validHandle(h)) return;
    stdinReader() = std::make_unique<StreamReader>(h);
}

int biConsoleWrite(Engine&, Args& args, Variant& result) {
    result.setInt32(writeStream(STD_OUTPUT_HANDLE, args[0]));
    return 0;
}

int biConsoleWriteError(Engine&, Args& args, Variant& result) {
    result.setInt32(writeStream(STD_ERROR_HANDLE, args[0]));
    return 0;
}

int biConsoleRead(Engine& e, Args& args, Variant& result) {
    result.setString(SString());
    std::unique_ptr<StreamReader>& r = stdinReader();
    if (!r) {
        e.setError(2);
        return 0;
    }
    bool peek = args.n > 0 && args[0].isTrue();
    bool binary = args.n > 1 && args[1].isTrue();
    bool ended = r->ended();  // read before the buffer, so no byte that arrives in between is lost
    if (!ended || !r->empty()) {
        std::string bytes;
        r->take(bytes, peek);
        e.setExtended(static_cast<int32_t>(bytes.size()));
        if (binary) result = Variant::binary(bytes.data(), bytes.size());
        else result.setString(platform::fromAnsi(bytes.data(), bytes.size()));
        return 0;
    }
    r.reset();
    e.setError(1);
    return 0;
}

}  // namespace tx
