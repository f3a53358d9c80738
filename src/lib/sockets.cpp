// Socket built-ins: TCP (TCPSTARTUP ... TCPNAMETOIP), UDP (UDPOPEN ... UDPCLOSESOCKET) and PING.
//
// Sockets are plain blocking IPv4 sockets handed to the script as their system handle (an Int32; -1 means
// no socket). The runtime keeps no list of them: a script closes what it opened, the process end closes the
// rest. A UDP socket travels as a four-element array [45454545, handle, address, port]; the address and
// port are where UDPSEND sends, so a script may change them to answer a sender.
//
// Reads never wait for long: TCPACCEPT and TCPRECV wait for readability at most TCPTimeout ms, UDPRECV
// 100 ms, and then return "" (or -1) with @error 0 when nothing came. Received bytes become ANSI text unless
// the script asks for Binary or the bytes hold a zero byte, which text could not carry.
//
// PING goes through the system's ICMP helper, loaded when first needed.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/engine.h"
#include "env/options.h"
#include "lib/encoding.h"
#include "lib/network.h"

namespace tx {

namespace {

// Owner of a socket the built-in is still setting up: closed unless released to the script.
class SocketOwner {
public:
    explicit SocketOwner(SOCKET s) : s_(s) {}
    SocketOwner(const SocketOwner&) = delete;
    SocketOwner& operator=(const SocketOwner&) = delete;
    ~SocketOwner() {
        if (s_ != INVALID_SOCKET) {
            const int err = WSAGetLastError();  // the failure being reported, not closesocket's
            closesocket(s_);
            WSASetLastError(err);
        }
    }
    SOCKET get() const { return s_; }
    bool valid() const { return s_ != INVALID_SOCKET; }
    SOCKET release() {
        SOCKET s = s_;
        s_ = INVALID_SOCKET;
        return s;
    }

private:
    SOCKET s_;
};

// The script's value of a socket handle. Handles are small numbers even on 64-bit systems; -1 (and any
// value that cannot be a handle) is no socket.
SOCKET socketArg(const Variant& v) {
    const int64_t n = v.toInt64();
    if (n < 0 || n > 0x7FFFFFFF) return INVALID_SOCKET;
    return static_cast<SOCKET>(n);
}

int32_t socketValue(SOCKET s) { return static_cast<int32_t>(static_cast<intptr_t>(s)); }

// Builds an IPv4 endpoint; 0, or 1 for an address that is not dotted decimal, 2 for a port outside 1..65535.
int endpoint(const Variant& address, const Variant& port, sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    const SString& text = address.toString();
    if (text.view().find(u'\0') != u16view::npos) return 1;
    const std::string ansi = enc::toAnsi(text.view());
    const unsigned long ip = inet_addr(ansi.c_str());
    if (ip == INADDR_NONE && ansi != "255.255.255.255") return 1;
    const int64_t p = port.toInt64();
    if (p < 1 || p > 65535) return 2;
    out.sin_family = AF_INET;
    out.sin_addr.s_addr = ip;
    out.sin_port = htons(static_cast<u_short>(p));
    return 0;
}

// Waits up to ms for the socket to become readable: 1 readable, 0 not yet, -1 failed (last error set).
int waitReadable(SOCKET s, int32_t ms) {
    if (ms < 0) ms = 0;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    const int n = select(0, &set, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) return -1;
    return n > 0 ? 1 : 0;
}

// Largest single receive buffer: a receive returns what has arrived, never more than the system holds for
// the socket, so a script asking for gigabytes gets the same data as one asking for a few megabytes.
constexpr size_t kMaxTcpChunk = 4u << 20;
constexpr size_t kMaxDatagram = 65536;

// A receive buffer reused between calls (the script thread is the only reader).
uint8_t* receiveBuffer(size_t n) {
    static std::unique_ptr<uint8_t[]> buffer;
    static size_t size = 0;
    if (n > size) {
        buffer.reset(new uint8_t[n]);
        size = n;
    }
    return buffer.get();
}

// Received bytes as the script's value: Binary when asked for or when a zero byte is present, else text.
Variant receivedValue(const uint8_t* bytes, size_t n, bool binary) {
    if (binary || std::memchr(bytes, 0, n)) return Variant::binary(bytes, n);
    return Variant::string(enc::fromAnsi(bytes, n));
}

// The Binary form of data to send (strings in ANSI, "0x..." hex texts as their bytes).
Variant sendBytes(const Variant& data) {
    Variant copy(data);
    copy.toBinary();
    return copy;
}

// ---- UDP socket arrays ------------------------------------------------------------------------------------

constexpr int32_t kUdpTag = 45454545;

Variant udpArray(int32_t tag, SOCKET s, const Variant& address, const Variant& port) {
    const uint32_t size = 4;
    ArrayData* arr = ArrayData::create(&size, 1);
    arr->at(0) = Variant::int32(tag);
    arr->at(1) = Variant::int32(s == INVALID_SOCKET ? -1 : socketValue(s));
    arr->at(2) = address.isString() ? address : Variant::string(address.toString());
    arr->at(3) = port;
    return Variant::array(arr);
}

// Checks a UDP socket array: 0, -1 when it is not a one-dimensional array of four elements, -2 when its tag
// is wrong.
int udpCheck(const Variant& v, const ArrayData*& arr) {
    if (!v.isArray()) return -1;
    arr = v.rawArray();
    if (arr->ndims != 1 || arr->total < 4) return -1;
    const Variant& tag = arr->at(0);
    if (!tag.isNumber() && !tag.isString()) return -2;
    return tag.toInt64() == kUdpTag ? 0 : -2;
}

// A UDP socket whose creation or binding failed: element 0 is -1, @error the system's reason.
int udpFailed(Engine& e, Variant& r, int32_t code, const Variant& address, const Variant& port) {
    e.setError(code);
    r = udpArray(-1, INVALID_SOCKET, address, port);
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// TCP

int bi_TCPSTARTUP(Engine& e, Args&, Variant& r) {
    WSADATA data;
    const int rc = WSAStartup(MAKEWORD(2, 2), &data);
    e.setError(rc);
    r.setBool(rc == 0);
    return 0;
}

// Also UDPSHUTDOWN: each successful start-up is matched by one release. A failed release reports the
// socket library's reason (10093 when it was not started).
int bi_TCPSHUTDOWN(Engine& e, Args&, Variant& r) {
    const int rc = WSACleanup();
    e.setError(rc == 0 ? 0 : WSAGetLastError());
    r.setBool(rc == 0);
    return 0;
}

int bi_TCPLISTEN(Engine& e, Args& a, Variant& r) {
    r.setInt32(-1);
    sockaddr_in addr;
    if (int bad = endpoint(a[0], a[1], addr)) {
        e.setError(bad);
        return 0;
    }
    const int64_t backlog = a.int64Or(2, 5);
    SocketOwner s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s.valid() || bind(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR ||
        listen(s.get(), backlog < 0 ? 0 : backlog > SOMAXCONN ? SOMAXCONN : static_cast<int>(backlog)) ==
            SOCKET_ERROR) {
        e.setError(WSAGetLastError());
        return 0;
    }
    r.setInt32(socketValue(s.release()));
    return 0;
}

int bi_TCPCONNECT(Engine& e, Args& a, Variant& r) {
    r.setInt32(-1);
    sockaddr_in addr;
    if (int bad = endpoint(a[0], a[1], addr)) {
        e.setError(bad);
        return 0;
    }
    SocketOwner s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s.valid() || connect(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
        e.setError(WSAGetLastError());
        return 0;
    }
    r.setInt32(socketValue(s.release()));
    return 0;
}

int bi_TCPACCEPT(Engine& e, Args& a, Variant& r) {
    r.setInt32(-1);
    const SOCKET listener = socketArg(a[0]);
    if (listener == INVALID_SOCKET) {
        e.setError(WSAENOTSOCK);
        return 0;
    }
    WSASetLastError(0);
    if (waitReadable(listener, options().tcpTimeout) != 1) {
        e.setError(WSAGetLastError());
        return 0;
    }
    const SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) {
        e.setError(WSAGetLastError());
        return 0;
    }
    r.setInt32(socketValue(s));
    return 0;
}

int bi_TCPSEND(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    const SOCKET s = socketArg(a[0]);
    if (s == INVALID_SOCKET) {
        e.setError(WSAENOTSOCK);
        return 0;
    }
    const Variant bytes = sendBytes(a[1]);
    const int n = send(s, reinterpret_cast<const char*>(bytes.binaryData()), static_cast<int>(bytes.binaryLength()), 0);
    if (n == SOCKET_ERROR) {
        e.setError(WSAGetLastError());
        return 0;
    }
    r.setInt32(n);
    return 0;
}

int bi_TCPRECV(Engine& e, Args& a, Variant& r) {
    r.setString(SString());
    const SOCKET s = socketArg(a[0]);
    if (s == INVALID_SOCKET) {
        e.setError(WSAENOTSOCK);
        return 0;
    }
    const int64_t wanted = a.int64(1);
    if (wanted < 1) {
        e.setError(WSAEINVAL);
        return 0;
    }
    const bool binary = a.given(2) && a.int32(2) != 0;
    WSASetLastError(0);
    const int ready = waitReadable(s, options().tcpTimeout);
    if (ready < 0) {
        e.setError(WSAGetLastError());
        return 0;
    }
    if (ready == 0) return 0;  // nothing came within the time-out
    const size_t size = static_cast<uint64_t>(wanted) < kMaxTcpChunk ? static_cast<size_t>(wanted) : kMaxTcpChunk;
    uint8_t* buf = receiveBuffer(size + 1);
    const int n = recv(s, reinterpret_cast<char*>(buf), static_cast<int>(size), 0);
    if (n == 0) {
        e.setError(-1);  // the peer closed the connection
        return 0;
    }
    if (n == SOCKET_ERROR) {
        e.setError(WSAGetLastError());
        return 0;
    }
    r = receivedValue(buf, static_cast<size_t>(n), binary);
    return 0;
}

int bi_TCPCLOSESOCKET(Engine& e, Args& a, Variant& r) {
    const SOCKET s = socketArg(a[0]);
    if (s == INVALID_SOCKET || closesocket(s) == SOCKET_ERROR) {
        e.setError(s == INVALID_SOCKET ? WSAENOTSOCK : WSAGetLastError());
        r.setBool(false);
        return 0;
    }
    r.setBool(true);
    return 0;
}

int bi_TCPNAMETOIP(Engine& e, Args& a, Variant& r) {
    r.setString(SString());
    const SString& name = a.str(0);
    if (name.view().find(u'\0') != u16view::npos) {
        e.setError(WSAHOST_NOT_FOUND);
        return 0;
    }
    const std::string host = enc::toAnsi(name.view());
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found)) {
        e.setError(rc);
        return 0;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr) continue;
        const in_addr ip = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr;
        const char* dotted = inet_ntoa(ip);
        r.setString(enc::fromAnsi(dotted, std::strlen(dotted)));
        return 0;
    }
    e.setError(WSANO_DATA);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// UDP

int bi_UDPOPEN(Engine& e, Args& a, Variant& r) {
    sockaddr_in addr;
    if (int bad = endpoint(a[0], a[1], addr)) return udpFailed(e, r, bad, a[0], a[1]);
    SocketOwner s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!s.valid()) return udpFailed(e, r, WSAGetLastError(), a[0], a[1]);
    if (a.given(2) && (a.int32(2) & 1)) {
        const BOOL on = TRUE;
        if (setsockopt(s.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) ==
            SOCKET_ERROR)
            return udpFailed(e, r, WSAGetLastError(), a[0], a[1]);
    }
    r = udpArray(kUdpTag, s.release(), a[0], a[1]);
    return 0;
}

int bi_UDPBIND(Engine& e, Args& a, Variant& r) {
    sockaddr_in addr;
    if (int bad = endpoint(a[0], a[1], addr)) return udpFailed(e, r, bad, a[0], a[1]);
    SocketOwner s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!s.valid() || bind(s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR)
        return udpFailed(e, r, WSAGetLastError(), a[0], a[1]);
    r = udpArray(kUdpTag, s.release(), a[0], a[1]);
    return 0;
}

int bi_UDPSEND(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    const ArrayData* arr = nullptr;
    if (int bad = udpCheck(a[0], arr)) {
        e.setError(bad);
        return 0;
    }
    sockaddr_in addr;
    if (int bad = endpoint(arr->at(2), arr->at(3), addr)) {
        e.setError(bad);
        return 0;
    }
    const SOCKET s = socketArg(arr->at(1));
    const Variant bytes = sendBytes(a[1]);
    const int n = s == INVALID_SOCKET ? SOCKET_ERROR
                                      : sendto(s, reinterpret_cast<const char*>(bytes.binaryData()),
                                               static_cast<int>(bytes.binaryLength()), 0,
                                               reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (n == SOCKET_ERROR) {
        e.setError(s == INVALID_SOCKET ? WSAENOTSOCK : WSAGetLastError());
        r.setInt32(-1);
        return 0;
    }
    r.setInt32(n);
    return 0;
}

int bi_UDPRECV(Engine& e, Args& a, Variant& r) {
    r.setString(SString());
    const ArrayData* arr = nullptr;
    if (int bad = udpCheck(a[0], arr)) {
        e.setError(bad);
        return 0;
    }
    const SOCKET s = socketArg(arr->at(1));
    if (s == INVALID_SOCKET) {
        e.setError(WSAENOTSOCK);
        return 0;
    }
    const int64_t wanted = a.int64(1);
    if (wanted < 1) {
        e.setError(WSAEINVAL);
        return 0;
    }
    const int32_t flags = a.given(2) ? a.int32(2) : 0;
    WSASetLastError(0);
    const int ready = waitReadable(s, 100);
    if (ready < 0) {
        e.setError(WSAGetLastError());
        return 0;
    }
    if (ready == 0) return 0;
    const size_t size = static_cast<uint64_t>(wanted) < kMaxDatagram ? static_cast<size_t>(wanted) : kMaxDatagram;
    uint8_t* buf = receiveBuffer(size + 1);
    sockaddr_in from{};
    int fromLen = sizeof from;
    int n = recvfrom(s, reinterpret_cast<char*>(buf), static_cast<int>(size), 0, reinterpret_cast<sockaddr*>(&from),
                     &fromLen);
    // A datagram longer than the buffer is cut to it (the rest is gone either way): return what fitted.
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) n = static_cast<int>(size);
    if (n == SOCKET_ERROR) {
        e.setError(WSAGetLastError());
        return 0;
    }
    Variant data = receivedValue(buf, static_cast<size_t>(n), (flags & 1) != 0);
    if (!(flags & 2)) {
        r = std::move(data);
        return 0;
    }
    const uint32_t three = 3;
    ArrayData* out = ArrayData::create(&three, 1);
    out->at(0) = std::move(data);
    const char* dotted = inet_ntoa(from.sin_addr);
    out->at(1) = Variant::string(enc::fromAnsi(dotted, std::strlen(dotted)));
    out->at(2) = Variant::int32(ntohs(from.sin_port));
    r = Variant::array(out);
    return 0;
}

int bi_UDPCLOSESOCKET(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    const ArrayData* arr = nullptr;
    if (int bad = udpCheck(a[0], arr)) {
        e.setError(bad);
        return 0;
    }
    const SOCKET s = socketArg(arr->at(1));
    if (s == INVALID_SOCKET || closesocket(s) == SOCKET_ERROR) {
        e.setError(s == INVALID_SOCKET ? WSAENOTSOCK : WSAGetLastError());
        return 0;
    }
    r.setInt32(1);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// PING

namespace {

struct IcmpLibrary {
    HMODULE module = nullptr;
    decltype(&IcmpCreateFile) create = nullptr;
    decltype(&IcmpSendEcho) send = nullptr;
    decltype(&IcmpCloseHandle) close = nullptr;
    explicit IcmpLibrary(const wchar_t* name) : module(LoadLibraryW(name)) {
        if (!module) return;
        create = reinterpret_cast<decltype(create)>(reinterpret_cast<void*>(GetProcAddress(module, "IcmpCreateFile")));
        send = reinterpret_cast<decltype(send)>(reinterpret_cast<void*>(GetProcAddress(module, "IcmpSendEcho")));
        close = reinterpret_cast<decltype(close)>(reinterpret_cast<void*>(GetProcAddress(module, "IcmpCloseHandle")));
    }
    ~IcmpLibrary() {
        if (module) FreeLibrary(module);
    }
    IcmpLibrary(const IcmpLibrary&) = delete;
    IcmpLibrary& operator=(const IcmpLibrary&) = delete;
    bool ready() const { return create && send && close; }
};

struct WinsockScope {
    bool ok;
    WinsockScope() {
        WSADATA d;
        ok = WSAStartup(MAKEWORD(1, 1), &d) == 0;
    }
    ~WinsockScope() {
        if (ok) WSACleanup();
    }
    WinsockScope(const WinsockScope&) = delete;
    WinsockScope& operator=(const WinsockScope&) = delete;
};

// The reply status as PING's @error (0 for success).
int32_t pingError(DWORD status) {
    switch (status) {
        case IP_SUCCESS: return 0;
        case IP_REQ_TIMED_OUT: return 1;
        case IP_DEST_NET_UNREACHABLE:
        case IP_DEST_HOST_UNREACHABLE:
        case IP_DEST_PROT_UNREACHABLE:
        case IP_DEST_PORT_UNREACHABLE: return 2;
        case IP_BAD_DESTINATION: return 3;
        default: return 4;
    }
}

}  // namespace

int bi_PING(Engine& e, Args& a, Variant& r) {
    r.setInt32(0);
    const int64_t timeout = a.int64Or(1, 4000);
    const DWORD waitMs = timeout < 1 ? 1 : timeout > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(timeout);

    IcmpLibrary icmp(L"ICMP.DLL");
    WinsockScope winsock;
    if (!icmp.ready() || !winsock.ok) {
        e.setError(4);
        return 0;
    }
    const SString& name = a.str(0);
    if (name.view().empty() || name.view().find(u'\0') != u16view::npos) {
        e.setError(4);
        return 0;
    }
    const std::string host = enc::toAnsi(name.view());
    unsigned long ip = inet_addr(host.c_str());
    if (ip == INADDR_NONE && host != "255.255.255.255") {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
            e.setError(4);
            return 0;
        }
        ip = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
    }

    HANDLE echo = icmp.create();
    if (echo == INVALID_HANDLE_VALUE) {
        e.setError(4);
        return 0;
    }
    // 36 bytes of request data; the reply holds the echo-reply structure of this build (28 bytes on 32-bit
    // systems, 40 on 64-bit ones), the data echoed back, and room for an ICMP error message in its place.
    uint8_t request[36];
    std::memset(request, 0xAA, sizeof request);
    constexpr DWORD kReplySize = sizeof(ICMP_ECHO_REPLY) + sizeof request + 8 + 64;
    alignas(8) uint8_t reply[kReplySize] = {};
    const DWORD count = icmp.send(echo, ip, request, sizeof request, nullptr, reply, kReplySize, waitMs);
    const DWORD lastError = GetLastError();
    icmp.close(echo);
    DWORD status;
    ULONG rtt = 0;
    if (count == 0) {
        // No reply: the system names the reason as the last error (a status code such as 11010).
        status = lastError >= IP_STATUS_BASE ? lastError : IP_GENERAL_FAILURE;
    } else {
        const auto* echoReply = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
        status = echoReply->Status;
        rtt = echoReply->RoundTripTime;
    }
    if (const int32_t err = pingError(status)) {
        e.setError(err);
        return 0;
    }
    r.setInt32(rtt == 0 ? 1 : static_cast<int32_t>(rtt));
    return 0;
}

}  // namespace tx
