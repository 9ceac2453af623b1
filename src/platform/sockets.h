// Sockets contract of the platform layer: what the printer server, the web page's guard and the
// command line need of TCP, the same on every OS. The implementation for POSIX systems lives in
// sockets_posix.cpp, the one for Windows (Winsock 2) in sockets_win.cpp.
//
// Every call reports its outcome in its result; nothing throws. Sockets are non-blocking once
// opened here (listening, accepted, connected, pairs) and never raise SIGPIPE. A failure's code is
// the OS's own (errno, or the WSA error), kept in the result; SocketErrorText() turns it into the
// text messages show ("Address already in use").
//
// What can be waited on: any socket, and on POSIX systems any other descriptor as well (a
// terminal, an inotify queue). On Windows only sockets can: a COM line is read by a thread of its
// own that hands its bytes over a SocketPair().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellory::platform {

// A socket: a descriptor on POSIX systems, a SOCKET on Windows.
#ifdef _WIN32
using SocketHandle = uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// Makes sockets usable (WSAStartup on Windows, once per process; nothing elsewhere). Every call
// below makes it first. False, with the reason, when the OS refuses.
bool StartSockets(std::string* error = nullptr);

// The OS's text for a failure's code ("Connection refused").
std::string SocketErrorText(int code);
// The code of the last failure of a socket call made here or by a library on this thread (errno,
// WSAGetLastError()), and its reset to 0 before such a call.
int LastSocketError();
void ClearSocketError();
// Whether a failure of accept() is for want of a resource that frees up by itself (descriptors,
// buffers, memory): the caller tries again later.
bool SocketOutOfResources(int code);

// One socket listening on one address of a name.
struct ListeningSocket {
    SocketHandle handle = kNoSocket;
    bool ipv6 = false;
};

// Listens on every address of host:port (getaddrinfo; host empty: every address of both
// families, each family on a socket of its own, an IPv6 socket bound to IPv6 only), with
// SO_REUSEADDR on POSIX systems and SO_EXCLUSIVEADDRUSE on Windows, non-blocking. An address of
// the name that this machine does not have (::1 without IPv6) is passed by; one in use is not.
// Port 0: the system picks one, the same for every address of the name. On success the sockets
// are appended to *out and *port is the port bound. On failure nothing is left open and *error
// is the reason alone ("Address already in use", a name that does not resolve).
bool ListenOn(const std::string& host, uint16_t port, int backlog, std::vector<ListeningSocket>* out,
              uint16_t* boundPort, std::string* error);

// What accepting a connection did.
enum class AcceptResult : uint8_t {
    Accepted,   // *out is the new connection: non-blocking, TCP_NODELAY on
    None,       // nothing waits (or the one that waited went away): wait again
    Retry,      // interrupted, or the connection was aborted before it was taken: accept again
    OutOfRoom,  // for want of descriptors or memory (*code): try again after a while
    Failed,     // another failure (*code)
};
AcceptResult AcceptConnection(SocketHandle listener, SocketHandle* out, int* code);

// Connects to host:port within timeoutMs (a bounded wait); the socket is non-blocking and
// TCP_NODELAY is on. kNoSocket, with the reason, when it cannot.
SocketHandle ConnectTo(const std::string& host, uint16_t port, int timeoutMs, std::string* error);

// Two connected sockets, each end's bytes read at the other (a stream). POSIX: a local socket
// pair; Windows: a loopback TCP connection. Both non-blocking. False, with the reason.
bool SocketPair(SocketHandle ends[2], std::string* error);

// Closes it and sets it to kNoSocket (nothing for kNoSocket).
void CloseSocket(SocketHandle& s);
// Ends the sending half: the peer reads the end of the stream once it has read what was sent.
void ShutdownSending(SocketHandle s);
// Keeps the address a socket is about to be bound to this socket's alone, as ListenOn() does:
// SO_REUSEADDR on POSIX systems (a restart need not wait for the last connections' TIME_WAIT,
// and no second listener is let in), SO_EXCLUSIVEADDRUSE on Windows (where SO_REUSEADDR would
// let a second program take the port). For a socket a library opens.
void KeepAddressOwn(SocketHandle s);
// Makes a socket opened elsewhere (by a library) non-blocking, as the reads and writes below
// expect. False when the OS refuses.
bool MakeNonBlocking(SocketHandle s);

// What one read or write moved: a count > 0, 0 at the end of the stream (reads only), or one of
// these; with kSocketFailed the code is in *code (when given).
inline constexpr long long kSocketWouldBlock = -1;
inline constexpr long long kSocketFailed = -2;
// Reads at most n bytes, without waiting. Interrupted reads are made again.
long long ReceiveSome(SocketHandle s, void* buffer, size_t n, int* code = nullptr);
// Writes at most n bytes, without waiting and without SIGPIPE. Interrupted writes are made again.
long long SendSome(SocketHandle s, const void* bytes, size_t n, int* code = nullptr);
// The bytes received and not yet read; 0 when it cannot be told.
size_t BytesWaiting(SocketHandle s);

// One end of a connection as text: the numeric address (an IPv6 one with its zone, "fe80::1%eth0")
// and the port. Nothing when the socket has no such end.
struct SocketEnd {
    std::string address;
    uint16_t port = 0;
    bool ipv6 = false;
};
std::optional<SocketEnd> PeerEnd(SocketHandle s);
std::optional<SocketEnd> LocalEnd(SocketHandle s);

// A numeric address written as text ("127.0.0.1", "::1"), in binary: 4 bytes for IPv4, 16 for
// IPv6, in network order; empty for anything else (a name, an IPv6 address in brackets).
std::string NumericAddress(const std::string& text);
// The addresses of this machine's network interfaces, in binary as NumericAddress() gives them;
// empty when they cannot be read.
std::vector<std::string> InterfaceAddresses();
// This machine's host name; empty when it has none.
std::string MachineName();

// The wait over many sockets: what each waits for, and after WaitSockets() what it is ready for.
enum : uint8_t {
    kWaitRead = 0x01,   // bytes, the end of the stream, or a connection to accept
    kWaitWrite = 0x02,  // room to write
    // Only the peer's end of the stream, its bytes not read (POLLRDHUP). On Windows, which has no
    // such event, the end is seen only where no byte waits before it: a socket with unread bytes
    // is passed by, as if it waited for nothing.
    kWaitHangUp = 0x04,
};
enum : uint8_t {
    kReadyRead = 0x01,
    kReadyWrite = 0x02,
    kReadyHangUp = 0x04,  // the peer ended its stream (with kWaitHangUp), or the connection is gone
    kReadyError = 0x08,   // the socket failed (or is not one)
};
struct SocketWait {
    SocketHandle handle = kNoSocket;
    uint8_t events = 0;  // kWait* bits
    uint8_t ready = 0;   // kReady* bits, set by WaitSockets()
};
// Waits at most timeoutMs (0: looks only; negative: never, since every wait here is bounded)
// until one of them is ready. The number of ready ones, 0 when the time ran out or a signal
// ended the wait, -1 on a failure (*code). Entries with no events are passed by.
int WaitSockets(std::vector<SocketWait>& waits, int timeoutMs, int* code = nullptr);
// One socket, for at most timeoutMs: whether it is ready for the events.
bool WaitSocket(SocketHandle s, uint8_t events, int timeoutMs);

// The wake-up of a wait: a socket (POSIX: a pipe's read end) that WaitSockets() sees readable
// once wake() was called, until drain(). POSIX: a self-pipe; Windows: a loopback socket pair.
// wake() may be called from any thread, and from a signal handler on POSIX systems; open(),
// drain() and close() from the waiting thread.
class SocketWaker {
public:
    SocketWaker() = default;
    ~SocketWaker() { close(); }
    SocketWaker(const SocketWaker&) = delete;
    SocketWaker& operator=(const SocketWaker&) = delete;

    bool open(std::string* error);
    bool isOpen() const { return read_ != kNoSocket; }
    SocketHandle handle() const { return read_; }  // wait for kWaitRead on it
    void wake() const;
    // Takes every wake-up sent so far.
    void drain() const;
    void close();

private:
    SocketHandle read_ = kNoSocket;
    SocketHandle write_ = kNoSocket;
};

}  // namespace pellory::platform
