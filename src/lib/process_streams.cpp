// Redirected standard streams of started programs: the pipes made for a start, the stream records kept
// afterwards, and STDOUTREAD, STDERRREAD, STDINWRITE and STDIOCLOSE.
//
// A stream record belongs to one process id and holds the parent's end of the child's standard input and
// one reader per redirected output stream. A reader is the same background reader that gathers the
// runtime's own standard input (host/console.h): its thread only appends to a buffer under a lock, so a
// read never waits for data; the script polls. A record lives until all of its streams are closed and
// their ends reported (or until STDIOCLOSE, or the end of the run).
//
// Writing to a child that does not read must not freeze the runtime, so the input pipe is non-blocking:
// STDINWRITE writes what fits and, while data remains, lets the run loop serve messages, hot keys and
// events between attempts, returning once everything is written or the child has closed its end.
#include "lib/process_streams.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "core/platform.h"
#include "host/console.h"
#include "host/runloop.h"
#include "lib/process.h"

namespace tx {

namespace {

struct StreamRecord {
    uint32_t pid = 0;
    std::shared_ptr<WinHandle> input;      // the child's standard input; null when absent or closed
    std::unique_ptr<StreamReader> output;  // null when absent or its end has been reported
    std::unique_ptr<StreamReader> error;
    bool open() const { return input || output || error; }
};

std::vector<std::unique_ptr<StreamRecord>>& records() {
    static std::vector<std::unique_ptr<StreamRecord>> list;
    return list;
}

StreamRecord* findRecord(uint32_t pid) {
    for (auto& r : records())
        if (r->pid == pid) return r.get();
    return nullptr;
}

void removeRecord(uint32_t pid) {
    auto& list = records();
    list.erase(std::remove_if(list.begin(), list.end(), [pid](const auto& r) { return r->pid == pid; }),
               list.end());
}

// Run-loop hook: the script is ending, every reader stops and every pipe is closed.
void stopAllReaders() { records().clear(); }

// The process id argument; false for a value that cannot be one.
bool pidArg(const Args& a, int i, uint32_t& pid) {
    int64_t v = a.int64(i);
    if (v < 0 || v > static_cast<int64_t>(UINT32_MAX)) return false;
    pid = static_cast<uint32_t>(v);
    return true;
}

StreamRecord* recordArg(const Args& a, int i) {
    uint32_t pid;
    return pidArg(a, i, pid) ? findRecord(pid) : nullptr;
}

SECURITY_ATTRIBUTES inheritable() {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return sa;
}

// Buffer size asked for each pipe: a block the size of a reader's read, so a child is rarely held up.
constexpr DWORD kPipeSize = 65536;

// An anonymous pipe whose child end (reading or writing) is inheritable and whose parent end is not.
bool makePipe(WinHandle& parentEnd, WinHandle& childEnd, bool childReads) {
    HANDLE r = nullptr, w = nullptr;
    if (!CreatePipe(&r, &w, nullptr, kPipeSize)) return false;
    parentEnd.reset(childReads ? w : r);
    childEnd.reset(childReads ? r : w);
    return SetHandleInformation(childEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) != 0;
}

// An inheritable copy of the runtime's own standard handle, or the "nul" device when it has none.
bool ownOrNul(DWORD which, DWORD access, WinHandle& out) {
    HANDLE own = GetStdHandle(which);
    if (own && own != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), out.put(), 0, TRUE, DUPLICATE_SAME_ACCESS))
        return true;
    SECURITY_ATTRIBUTES sa = inheritable();
    out.reset(CreateFileW(L"nul", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
    return out.valid();
}

bool inheritableCopy(const WinHandle& h, WinHandle& out) {
    return DuplicateHandle(GetCurrentProcess(), h.get(), GetCurrentProcess(), out.put(), 0, TRUE,
                           DUPLICATE_SAME_ACCESS) != 0;
}

// STDOUTREAD and STDERRREAD.
int readStream(Engine& e, Args& a, Variant& result, bool errorStream) {
    result.setString(SString());
    StreamRecord* rec = recordArg(a, 0);
    if (!rec) {
        e.setError(2);
        return 0;
    }
    std::unique_ptr<StreamReader>& reader = errorStream ? rec->error : rec->output;
    const bool peek = a.given(1) && a.truth(1);
    const bool binary = a.given(2) && a.truth(2);
    // The end is read before the buffer, so no byte that arrives in between is taken for the end.
    if (reader && (!reader->ended() || !reader->empty())) {
        std::string bytes;
        reader->take(bytes, peek);
        e.setExtended(static_cast<int32_t>(bytes.size()));
        if (binary) result = Variant::binary(bytes.data(), bytes.size());
        else result.setString(platform::fromAnsi(bytes.data(), bytes.size()));
        return 0;
    }
    reader.reset();  // its end is reported now; the stream counts as closed from here on
    e.setError(1);
    if (!rec->open()) removeRecord(rec->pid);
    return 0;
}

// Writes as much as the non-blocking pipe takes now. A full pipe takes nothing, however little is
// offered on some systems and only whole writes on others, so a refused write is retried smaller.
enum class WriteStep { Done, Blocked, Broken };
WriteStep writeSome(HANDLE pipe, const char* data, size_t n, size_t& done) {
    while (done < n) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 65536));
        DWORD wrote = 0;
        for (;;) {
            if (!WriteFile(pipe, data + done, chunk, &wrote, nullptr)) return WriteStep::Broken;
            if (wrote || chunk == 1) break;
            chunk = std::max<DWORD>(1, chunk / 8);
        }
        if (!wrote) return WriteStep::Blocked;
        done += wrote;
    }
    return WriteStep::Done;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Pipes of a start

bool ChildStreams::prepare(uint32_t runFlags) {
    uint32_t f = runFlags & 0xFFFF;
    if (!(f & (kRunStdin | kRunStdout | kRunStderr | kRunMerged | kRunInherit))) return true;
    redirected_ = true;
    if (f & kRunInherit)
        return ownOrNul(STD_INPUT_HANDLE, GENERIC_READ, childIn_) &&
               ownOrNul(STD_OUTPUT_HANDLE, GENERIC_WRITE, childOut_) &&
               ownOrNul(STD_ERROR_HANDLE, GENERIC_WRITE, childErr_);
    if (f & kRunMerged) f |= kRunStdout | kRunStderr;
    if (f & kRunStdin) {
        if (!makePipe(parentIn_, childIn_, true)) return false;
        DWORD mode = PIPE_NOWAIT;
        SetNamedPipeHandleState(parentIn_.get(), &mode, nullptr, nullptr);
    } else if (!ownOrNul(STD_INPUT_HANDLE, GENERIC_READ, childIn_)) {
        return false;
    }
    if (f & kRunStdout) {
        if (!makePipe(parentOut_, childOut_, false)) return false;
    } else if (!ownOrNul(STD_OUTPUT_HANDLE, GENERIC_WRITE, childOut_)) {
        return false;
    }
    if (f & kRunMerged) return inheritableCopy(childOut_, childErr_);
    if (f & kRunStderr) return makePipe(parentErr_, childErr_, false);
    return ownOrNul(STD_ERROR_HANDLE, GENERIC_WRITE, childErr_);
}

void ChildStreams::fill(STARTUPINFOW& si) const {
    if (!redirected_) return;
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdInput = childIn_.get();
    si.hStdOutput = childOut_.get();
    si.hStdError = childErr_.get();
}

void ChildStreams::commit(uint32_t pid) {
    childIn_.reset();
    childOut_.reset();
    childErr_.reset();
    if (!parentIn_.valid() && !parentOut_.valid() && !parentErr_.valid()) return;
    removeRecord(pid);  // a record left by an earlier process with the same id
    auto rec = std::make_unique<StreamRecord>();
    rec->pid = pid;
    if (parentIn_.valid()) rec->input = std::make_shared<WinHandle>(parentIn_.release());
    if (parentOut_.valid()) rec->output = std::make_unique<StreamReader>(parentOut_.release(), true);
    if (parentErr_.valid()) rec->error = std::make_unique<StreamReader>(parentErr_.release(), true);
    records().push_back(std::move(rec));
    loopHooks().stopReaders = stopAllReaders;
}

// ---------------------------------------------------------------------------------------------------
// Built-ins

int bi_STDOUTREAD(Engine& e, Args& a, Variant& r) { return readStream(e, a, r, false); }

int bi_STDERRREAD(Engine& e, Args& a, Variant& r) { return readStream(e, a, r, true); }

int bi_STDINWRITE(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    StreamRecord* rec = recordArg(a, 0);
    if (!rec) {
        e.setError(2);
        return 0;
    }
    if (!rec->input) {
        e.setError(1);
        return 0;
    }
    const uint32_t pid = rec->pid;
    if (!a.given(1)) {  // no data: the child sees the end of its input
        rec->input.reset();
        if (!rec->open()) removeRecord(pid);
        return 0;
    }
    std::string ansi;
    const char* data;
    size_t n;
    if (a[1].is(Kind::Binary)) {
        data = reinterpret_cast<const char*>(a[1].binaryData());
        n = a[1].binaryLength();
    } else {
        ansi = platform::toAnsi(a.str(1).view());
        data = ansi.data();
        n = ansi.size();
    }
    // The pipe is held for the whole write: an event function that closes the record meanwhile only
    // takes it away from later calls.
    std::shared_ptr<WinHandle> pipe = rec->input;
    size_t done = 0;
    WriteStep step = writeSome(pipe->get(), data, n, done);
    if (step == WriteStep::Blocked) {
        waitUntil(kStateRunWait, 0, [&] {
            step = writeSome(pipe->get(), data, n, done);
            return step != WriteStep::Blocked;
        });
    }
    r.setInt32(static_cast<int32_t>(std::min<size_t>(done, INT32_MAX)));
    if (step == WriteStep::Broken) {  // the child has closed its end
        e.setError(1);
        rec = findRecord(pid);
        if (rec && rec->input == pipe) {
            rec->input.reset();
            if (!rec->open()) removeRecord(pid);
        }
    }
    return 0;
}

int bi_STDIOCLOSE(Engine&, Args& a, Variant& r) {
    const StreamRecord* rec = recordArg(a, 0);
    r.setInt32(rec ? 1 : 0);
    if (rec) removeRecord(rec->pid);
    return 0;
}

}  // namespace tx
