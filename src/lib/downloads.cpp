// Download built-ins: INETGET, INETREAD, INETGETSIZE, INETGETINFO, INETCLOSE, and the settings they use
// (HTTPSETPROXY, FTPSETPROXY, HTTPSETUSERAGENT), over the system's internet library.
//
// Every call makes one download record: the URL and what to do with the body (a file, memory, or only the
// announced size), the request flags, the proxy and user-agent settings of the moment, and what the transfer
// reports (bytes so far, announced size, error and extended codes, a completion event). A foreground call
// runs the transfer itself and drops the record. A background INETGET hands the record to a thread of its
// own and keeps it in the download list, where INETGETINFO reads it while the thread writes it; the figures
// they share are atomics, and the event says the transfer is over.
//
// A file download writes into a scratch file beside its target and moves it into place only once the whole
// body has arrived, so a failed, cancelled or interrupted download never leaves a partial file behind and
// never destroys a file that was already there.
//
// Cancelling (INETCLOSE, the end of the run) closes the record's internet handles from the script's thread.
// The worker takes each handle it opens through the record, under the record's lock, so a handle closed by
// a cancel is never closed twice and a handle opened after the cancel is closed at once; the worker's pending
// read then fails and the thread ends.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/engine.h"
#include "host/runloop.h"
#include "lib/file_paths.h"
#include "lib/network.h"
#include "lib/process_streams.h"

namespace tx {

namespace {

using fs::W;

// ---- settings ---------------------------------------------------------------------------------------------

struct ProxySetting {
    int32_t mode = 0;  // 0 the system's configuration, 1 direct, 2 the named proxy
    std::wstring proxy, user, password;
};

struct NetSettings {
    ProxySetting http, ftp;
    std::wstring agent = L"Tarvex";
};

NetSettings& settings() {
    static NetSettings s;
    return s;
}

std::wstring wide(const SString& s) { return std::wstring(W(s.view().data()), s.view().size()); }

// ---- download records -------------------------------------------------------------------------------------

// Request flags a script adds up.
constexpr int32_t kFlagReload = 1;
constexpr int32_t kFlagIgnoreCertErrors = 2;
constexpr int32_t kFlagFtpAscii = 4;
constexpr int32_t kFlagFtpBinary = 8;
constexpr int32_t kFlagNoConnectedState = 16;

// Error codes of a download.
enum : int32_t {
    kErrUrl = 1,
    kErrScheme = 2,
    kErrOpen = 3,
    kErrHttpConnect = 11,
    kErrHttpRequest = 12,
    kErrHttpSend = 13,
    kErrFtpConnect = 21,
    kErrFtpOpen = 22,
    kErrFile = 31,
    kErrRead = 32,
    kErrEmpty = 33,
    kErrProxyOpen = 41,
    kErrProxyStatus = 42,
};

enum class Target { File, Memory, SizeOnly };

constexpr DWORD kReadBlock = 1024 * 1024;
// A read that waited longer than this at under 1 MB/s marks a slow transfer.
constexpr ULONGLONG kSlowReadMs = 50;
constexpr ULONGLONG kFastBytesPerMs = 1000;

struct Download {
    int32_t id = 0;
    std::wstring url;
    std::wstring file;  // Target::File: where the body goes
    Target target = Target::File;
    int32_t flags = 0;
    NetSettings settings;  // as they were when the download started

    std::vector<uint8_t> memory;  // Target::Memory: the body (read by the script only after the end)

    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> size{0};
    std::atomic<int32_t> error{0};
    std::atomic<int32_t> extended{0};
    std::atomic<bool> cancelled{false};
    bool lengthAnnounced = false;  // an HTTP Content-Length came (the worker's own)
    WinHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    WinHandle thread;

    // The open internet handles (root, connection, request or file), guarded by lock.
    std::mutex lock;
    HINTERNET handles[3] = {};

    bool complete() const { return !done.valid() || WaitForSingleObject(done.get(), 0) == WAIT_OBJECT_0; }

    // Takes a freshly opened handle into slot; false (the handle closed) when the download was cancelled.
    bool adopt(int slot, HINTERNET h) {
        std::lock_guard<std::mutex> g(lock);
        if (cancelled.load()) {
            InternetCloseHandle(h);
            SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
            return false;
        }
        handles[slot] = h;
        return true;
    }
    // Closes the handle in slot, if still open.
    void drop(int slot) {
        std::lock_guard<std::mutex> g(lock);
        if (handles[slot]) InternetCloseHandle(handles[slot]);
        handles[slot] = nullptr;
    }
    // Closes the handles, innermost first.
    void closeHandles() {
        std::lock_guard<std::mutex> g(lock);
        for (int i = 2; i >= 0; --i) {
            if (handles[i]) InternetCloseHandle(handles[i]);
            handles[i] = nullptr;
        }
    }
    void cancel() {
        cancelled.store(true);
        closeHandles();
    }
    void fail(int32_t code, DWORD lastError) {
        error.store(code);
        extended.store(static_cast<int32_t>(lastError));
    }
};

int32_t g_lastId = 0;  // handle ids: incremented before use, so the first download is 1

std::vector<std::shared_ptr<Download>>& downloads() {
    static std::vector<std::shared_ptr<Download>> list;
    return list;
}

// ---- the transfer -----------------------------------------------------------------------------------------

// A file being written: a scratch file beside the target, moved into place by commit(). Until then the
// system holds it marked for deletion, so it goes away when dropped, and even when the process is ended
// while a transfer still runs.
class ScratchFile {
public:
    ~ScratchFile() {
        file_.reset();
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    bool open(const std::wstring& target) {
        const std::u16string abs = fs::fullPath(std::u16string_view(fs::U(target.c_str()), target.size()));
        const std::wstring full(W(abs.c_str()), abs.size());
        const size_t slash = full.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash + 1 == full.size()) return false;
        const std::wstring dir = full.substr(0, slash + 1);
        wchar_t name[MAX_PATH + 1];
        if (dir.size() >= MAX_PATH - 14 || !GetTempFileNameW(dir.c_str(), L"txd", 0, name)) return false;
        path_ = name;
        target_ = full;
        file_.reset(CreateFileW(name, GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, TRUNCATE_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_.valid() && markDeleted(true);
    }
    bool write(const void* data, DWORD n) {
        DWORD written = 0;
        return WriteFile(file_.get(), data, n, &written, nullptr) && written == n;
    }
    bool commit() {
        if (!markDeleted(false)) return false;
        file_.reset();
        if (!MoveFileExW(path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
            return false;
        path_.clear();
        return true;
    }

private:
    bool markDeleted(bool on) {
        FILE_DISPOSITION_INFO info{};
        info.DeleteFile = on ? TRUE : FALSE;
        return SetFileInformationByHandle(file_.get(), FileDispositionInfo, &info, sizeof info) != 0;
    }
    WinHandle file_;
    std::wstring path_, target_;
};

DWORD requestFlags(const Download& d) {
    DWORD f = 0;
    if (d.flags & kFlagReload) f |= INTERNET_FLAG_RELOAD;
    if (d.flags & kFlagIgnoreCertErrors) f |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    return f;
}

DWORD ftpTransferFlags(const Download& d) {
    const int32_t mode = d.flags & (kFlagFtpAscii | kFlagFtpBinary);
    if (mode == kFlagFtpAscii) return FTP_TRANSFER_TYPE_ASCII;
    if (mode == kFlagFtpBinary) return FTP_TRANSFER_TYPE_BINARY;
    return 0;
}

void setProxyCredentials(HINTERNET request, const ProxySetting& p) {
    if (!p.user.empty())
        InternetSetOptionW(request, INTERNET_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(p.user.c_str()),
                           static_cast<DWORD>(p.user.size()));
    if (!p.password.empty())
        InternetSetOptionW(request, INTERNET_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(p.password.c_str()),
                           static_cast<DWORD>(p.password.size()));
}

// Is a proxy in use for this root handle under the mode?
bool proxyInUse(HINTERNET internet, int32_t mode) {
    if (mode == 1) return false;
    if (mode == 2) return true;
    DWORD size = 0;
    InternetQueryOptionW(internet, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size < sizeof(INTERNET_PROXY_INFO)) return false;
    std::vector<uint8_t> buf(size);
    if (!InternetQueryOptionW(internet, INTERNET_OPTION_PROXY, buf.data(), &size)) return false;
    return reinterpret_cast<const INTERNET_PROXY_INFO*>(buf.data())->dwAccessType == INTERNET_OPEN_TYPE_PROXY;
}

// The HTTP status of a request, 0 when unknown.
DWORD httpStatus(HINTERNET request) {
    DWORD status = 0, len = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr)) return 0;
    return status;
}

// The Content-Length of a response, 0 when absent; announced tells whether it came.
int64_t contentLength(HINTERNET request, bool& announced) {
    wchar_t text[32];
    DWORD len = sizeof text;
    announced = false;
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &len, nullptr)) return 0;
    const int64_t n = _wcstoi64(text, nullptr, 10);
    announced = n > 0;
    return n > 0 ? n : 0;
}

// Reads the body of the open transfer handle into the record's target. 0 or an error code.
int32_t readBody(Download& d, HINTERNET body) {
    ScratchFile out;
    if (d.target == Target::File && !out.open(d.file)) return kErrFile;
    std::unique_ptr<uint8_t[]> block(new uint8_t[kReadBlock]);
    int64_t total = 0;
    DWORD stride = 0;
    for (;;) {
        if (d.cancelled.load()) {
            SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
            return kErrRead;
        }
        // Wait until something has arrived, then read that much. While reads are fast the read size
        // grows (up to the block) and the reads no longer wait first, so a fast transfer moves in large
        // blocks; a slow read drops back to reading what has arrived, so the byte count follows a slow
        // transfer and a cancel is seen soon.
        DWORD avail = 0;
        if (stride == 0 && !InternetQueryDataAvailable(body, &avail, 0, 0)) return kErrRead;
        DWORD want = avail > stride ? avail : stride;
        if (want == 0) want = 1024;
        if (want > kReadBlock) want = kReadBlock;
        const ULONGLONG started = GetTickCount64();
        DWORD got = 0;
        if (!InternetReadFile(body, block.get(), want, &got)) return kErrRead;
        if (got == 0) break;  // the end of the body
        const ULONGLONG ms = GetTickCount64() - started;
        if (ms > kSlowReadMs && got / ms < kFastBytesPerMs)
            stride = 0;
        else if (stride < kReadBlock)
            stride = stride * 2 + 65536;
        if (d.target == Target::File) {
            if (!out.write(block.get(), got)) return kErrFile;
        } else {
            // A Binary holds at most 2 GiB - 1 bytes.
            if (total + got > INT32_MAX - 1) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return kErrRead;
            }
            try {
                d.memory.insert(d.memory.end(), block.get(), block.get() + got);
            } catch (const std::bad_alloc&) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return kErrRead;
            }
        }
        total += got;
        d.bytes.store(total);
    }
    if (total == 0) {
        SetLastError(ERROR_SUCCESS);
        return kErrEmpty;
    }
    if (d.cancelled.load()) {
        SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
        return kErrRead;
    }
    // A server that closes the connection before the announced length has arrived cut the body short:
    // the library reports that as a normal end, so it is caught here.
    if (d.lengthAnnounced && total < d.size.load()) {
        SetLastError(ERROR_INTERNET_CONNECTION_RESET);
        return kErrRead;
    }
    if (d.target == Target::File && !out.commit()) return kErrFile;
    return 0;
}

// Opens the body: HTTP(S), FTP, or FTP through a proxy. Returns 0 with the body handle in body, or an
// error code.
int32_t openBody(Download& d, HINTERNET& body) {
    const size_t room = d.url.size() + 1;
    std::vector<wchar_t> host(room), user(room), password(room), path(room), extra(room);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(room);
    parts.lpszUserName = user.data();
    parts.dwUserNameLength = static_cast<DWORD>(room);
    parts.lpszPassword = password.data();
    parts.dwPasswordLength = static_cast<DWORD>(room);
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(room);
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(room);
    parts.dwSchemeLength = 1;  // the scheme is read from nScheme
    if (d.url.empty() || d.url.find(L'\0') != std::wstring::npos ||
        !InternetCrackUrlW(d.url.c_str(), static_cast<DWORD>(d.url.size()), 0, &parts) || host[0] == 0)
        return kErrUrl;

    // Only the web and FTP are served: http and https over HTTP, ftp over FTP.
    const bool ftp = parts.nScheme == INTERNET_SCHEME_FTP;
    if (!ftp && parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return kErrScheme;
    }
    const std::wstring object = std::wstring(path.data()) + extra.data();
    const ProxySetting& proxy = ftp ? d.settings.ftp : d.settings.http;

    DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
    if (proxy.mode == 1) access = INTERNET_OPEN_TYPE_DIRECT;
    if (proxy.mode == 2) access = INTERNET_OPEN_TYPE_PROXY;
    HINTERNET internet = InternetOpenW(d.settings.agent.c_str(), access,
                                       proxy.mode == 2 ? proxy.proxy.c_str() : nullptr,
                                       proxy.mode == 2 ? L"<local>" : nullptr, 0);
    if (!internet) return kErrOpen;
    if (!d.adopt(0, internet)) return kErrOpen;
    if (!(d.flags & kFlagNoConnectedState)) {
        INTERNET_CONNECTED_INFO state{INTERNET_STATE_CONNECTED, 0};
        InternetSetOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &state, sizeof state);
    }
    const bool viaProxy = proxyInUse(internet, proxy.mode);
    const DWORD flags = requestFlags(d);

    if (ftp && viaProxy) {
        HINTERNET h = InternetOpenUrlW(internet, d.url.c_str(), nullptr, 0, flags & INTERNET_FLAG_RELOAD, 0);
        if (!h || !d.adopt(2, h)) return kErrProxyOpen;
        setProxyCredentials(h, proxy);
        DWORD status = 0, len = sizeof status;
        if (HttpQueryInfoW(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr)) {
            if (status != 200) {
                SetLastError(ERROR_SUCCESS);
                return kErrProxyStatus;
            }
            d.size.store(contentLength(h, d.lengthAnnounced));
        } else if (GetLastError() == ERROR_INTERNET_INCORRECT_HANDLE_TYPE) {
            // A library that cannot send FTP through the proxy fetched the file itself: an FTP file handle.
            DWORD high = 0;
            const DWORD low = FtpGetFileSize(h, &high);
            if (low != INVALID_FILE_SIZE)
                d.size.store(static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low));
        } else {
            return kErrProxyStatus;
        }
        body = h;
        return 0;
    }
    if (ftp) {
        HINTERNET conn = InternetConnectW(internet, host.data(), parts.nPort, user[0] ? user.data() : nullptr,
                                          password[0] ? password.data() : nullptr, INTERNET_SERVICE_FTP,
                                          INTERNET_FLAG_PASSIVE, 0);
        if (!conn || !d.adopt(1, conn)) return kErrFtpConnect;
        // The size from a listing of the file: not every library answers FtpGetFileSize.
        int64_t listed = 0;
        WIN32_FIND_DATAW found;
        HINTERNET find = FtpFindFirstFileW(conn, object.c_str(), &found, INTERNET_FLAG_RELOAD, 0);
        if (find) {
            if (!d.adopt(2, find)) return kErrFtpOpen;
            listed = static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
            d.drop(2);
        }
        HINTERNET file = FtpOpenFileW(conn, object.c_str(), GENERIC_READ,
                                      ftpTransferFlags(d) | (flags & INTERNET_FLAG_RELOAD), 0);
        if (!file || !d.adopt(2, file)) return kErrFtpOpen;
        DWORD high = 0;
        const DWORD low = FtpGetFileSize(file, &high);
        const int64_t reported = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR
                                     ? 0
                                     : static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
        d.size.store(reported > 0 ? reported : listed);
        body = file;
        return 0;
    }

    HINTERNET conn = InternetConnectW(internet, host.data(), parts.nPort, user[0] ? user.data() : nullptr,
                                      password[0] ? password.data() : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!conn || !d.adopt(1, conn)) return kErrHttpConnect;
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
    HINTERNET request = HttpOpenRequestW(conn, L"GET", object.c_str(), nullptr, nullptr, nullptr, flags | secure, 0);
    if (!request || !d.adopt(2, request)) return kErrHttpRequest;
    if (viaProxy) setProxyCredentials(request, proxy);
    if (d.flags & kFlagIgnoreCertErrors) {
        DWORD security = 0, len = sizeof security;
        InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &len);
        security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        InternetSetOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    }
    if (!HttpSendRequestW(request, nullptr, 0, nullptr, 0)) return kErrHttpSend;
    if (httpStatus(request) != 200) {
        SetLastError(ERROR_SUCCESS);
        return kErrHttpSend;
    }
    d.size.store(contentLength(request, d.lengthAnnounced));
    body = request;
    return 0;
}

// Runs the whole download on the calling thread; the record holds the outcome. The completion event is
// set at the end, for every outcome.
void runDownload(Download& d) {
    HINTERNET body = nullptr;
    int32_t rc = openBody(d, body);
    if (rc == 0 && d.target != Target::SizeOnly) rc = readBody(d, body);
    if (rc != 0) d.fail(rc, GetLastError());
    d.closeHandles();
    if (d.done.valid()) SetEvent(d.done.get());
}

DWORD WINAPI downloadThread(void* param) {
    std::unique_ptr<std::shared_ptr<Download>> d(static_cast<std::shared_ptr<Download>*>(param));
    runDownload(**d);
    return 0;
}

// Cancels a background download and waits up to 10 s for its thread.
void stopDownload(Download& d) {
    if (!d.complete()) d.cancel();
    if (d.thread.valid()) WaitForSingleObject(d.thread.get(), 10000);
}

// Run-end hook: no download thread outlives the script, and none leaves a partial file.
void stopAllDownloads() {
    auto& list = downloads();
    std::vector<HANDLE> threads;
    for (auto& d : list) {
        if (!d->complete()) d->cancel();
        if (d->thread.valid()) threads.push_back(d->thread.get());
    }
    // All at once, 10 s in all: a thread blocked on a silent server gives up only when its read does.
    const DWORD start = GetTickCount();
    for (HANDLE t : threads) {
        const DWORD spent = GetTickCount() - start;
        WaitForSingleObject(t, spent < 10000 ? 10000 - spent : 0);
    }
    list.clear();
}

std::shared_ptr<Download> newDownload(const Args& a, Target target) {
    auto d = std::make_shared<Download>();
    d->id = ++g_lastId;
    d->url = wide(a.str(0));
    d->target = target;
    d->settings = settings();
    return d;
}

// @error and @extended of a finished foreground download.
void reportOutcome(Engine& e, const Download& d) {
    e.setError(d.error.load());
    e.setExtended(d.extended.load());
}

Download* findDownload(int64_t id) {
    for (auto& d : downloads())
        if (d->id == id) return d.get();
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Built-ins

int bi_INETGET(Engine& e, Args& a, Variant& r) {
    r.setInt64(0);
    if (a.count() < 2) {
        e.setError(1);
        return 0;
    }
    auto d = newDownload(a, Target::File);
    d->file = wide(a.str(1));
    d->flags = a.int32Or(2, 0);
    const bool background = a.given(3) && a.truth(3);
    if (!background) {
        runDownload(*d);
        reportOutcome(e, *d);
        r.setInt64(d->error.load() == 0 ? d->bytes.load() : 0);
        return 0;
    }
    static bool hooked = false;
    if (!hooked) hooked = addShutdownHook(stopAllDownloads);
    auto* param = new std::shared_ptr<Download>(d);
    d->thread.reset(CreateThread(nullptr, 0, downloadThread, param, 0, nullptr));
    if (!d->thread.valid()) {
        delete param;
        d->fail(kErrOpen, GetLastError());
        SetEvent(d->done.get());
    }
    downloads().push_back(d);
    e.setError(d->error.load());
    e.setExtended(d->extended.load());
    r.setInt64(d->id);
    return 0;
}

int bi_INETREAD(Engine& e, Args& a, Variant& r) {
    r.setString(SString());
    auto d = newDownload(a, Target::Memory);
    d->flags = a.int32Or(1, 0);
    runDownload(*d);
    reportOutcome(e, *d);
    if (d->error.load() != 0) return 0;
    r = Variant::binary(d->memory.data(), d->memory.size());
    e.setExtended(static_cast<int32_t>(d->memory.size()));
    return 0;
}

int bi_INETGETSIZE(Engine& e, Args& a, Variant& r) {
    r.setInt64(0);
    auto d = newDownload(a, Target::SizeOnly);
    d->flags = a.int32Or(1, 0);
    runDownload(*d);
    reportOutcome(e, *d);
    if (d->error.load() == 0) r.setInt64(d->size.load());
    return 0;
}

int bi_INETGETINFO(Engine& e, Args& a, Variant& r) {
    if (!a.given(0)) {
        int32_t running = 0;
        for (auto& d : downloads())
            if (!d->complete()) ++running;
        r.setInt32(running);
        return 0;
    }
    Download* d = findDownload(a.int64(0));
    if (!d) {
        e.setError(1);
        r.setString(SString());
        return 0;
    }
    const int64_t index = a.int64Or(1, -1);
    if (index < -1 || index > 5) {
        e.setError(2);
        r.setString(SString());
        return 0;
    }
    // The event first: once it is set, the figures read after it are final.
    const bool complete = d->complete();
    const int32_t error = d->error.load();
    Variant info[6] = {
        Variant::int64(d->bytes.load()),
        Variant::int64(d->size.load()),
        Variant::boolean(complete),
        Variant::boolean(complete && error == 0),
        Variant::int32(error),
        Variant::int32(d->extended.load()),
    };
    if (index >= 0) {
        r = std::move(info[index]);
        return 0;
    }
    const uint32_t six = 6;
    ArrayData* arr = ArrayData::create(&six, 1);
    for (uint32_t i = 0; i < six; ++i) arr->at(i) = std::move(info[i]);
    r = Variant::array(arr);
    return 0;
}

int bi_INETCLOSE(Engine&, Args& a, Variant& r) {
    auto& list = downloads();
    const int64_t id = a.int64(0);
    for (auto pos = list.begin(); pos != list.end(); ++pos) {
        if ((*pos)->id != id) continue;
        std::shared_ptr<Download> d = std::move(*pos);
        list.erase(pos);
        stopDownload(*d);
        r.setBool(true);
        return 0;
    }
    r.setBool(false);
    return 0;
}

namespace {

void setProxy(ProxySetting& p, Args& a) {
    const int32_t mode = a.int32(0);
    p.mode = mode == 1 || mode == 2 ? mode : 0;
    if (a.count() >= 2) p.proxy = wide(a.str(1));
    if (a.count() >= 3) p.user = wide(a.str(2));
    if (a.count() >= 4) p.password = wide(a.str(3));
}

}  // namespace

int bi_HTTPSETPROXY(Engine&, Args& a, Variant&) {
    setProxy(settings().http, a);
    return 0;
}

int bi_FTPSETPROXY(Engine&, Args& a, Variant&) {
    setProxy(settings().ftp, a);
    return 0;
}

int bi_HTTPSETUSERAGENT(Engine&, Args& a, Variant&) {
    const SString& agent = a.given(0) ? a.str(0) : SString();
    settings().agent = agent.view().empty() ? L"Tarvex" : wide(agent);
    return 0;
}

}  // namespace tx
