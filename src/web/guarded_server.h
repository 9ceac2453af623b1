// The HTTP library's server with a guard on every connection, for the web interface. The library
// reads each request and writes each answer; the guard stands between it and the socket and reads
// nothing of HTTP itself: it counts the bytes the library takes and watches the clock.
//
// - A request (its line, its headers and its body together) must have come within the request
//   deadline of its first byte: else 408 and the connection is closed.
// - Until its request check runs (once the line and the headers are read) the library may take at
//   most maxHeadBytes of a request, after it at most maxBodyBytes (the body as sent: a chunked
//   body's framing counts): one byte more and the request is answered 431 or 413 and its
//   connection closed, nothing more of it read. The library's own bound on a line (8 KiB) applies
//   only once the line has ended, and it bounds neither the number of headers nor a chunked body.
// - A request the check answers itself (a refusal) closes its connection: its body, if any, is not
//   read.
// - Each connection has a thread of the library's pool from its accept to its close (more threads
//   than answer at once: web_server.cpp lets only a few build answers); one client address holds
//   at most maxPerAddress of them, more of its connections get 503.
// - A kept-alive connection waits at most idleWait for its next request.
//
// Every wait is bounded and watches the stop flag (beginStop()).
#pragma once

#include <httplib.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/thread_annotations.h"
#include "web/connection_bounds.h"

namespace pellory::web {

class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(ConnectionBounds bounds);

    // What is checked of every request once its line and headers are read, before its body: Handled
    // (with the answer in the response) refuses it. Set before listening.
    void setRequestCheck(HandlerWithResponse check) { check_ = std::move(check); }
    // The answer being built (on the connection's thread) closes its connection once it is sent.
    static void CloseAfterAnswer();
    // From here on no new request is read and every wait ends soon; then stop() the library.
    void beginStop() { stopping_ = true; }

private:
    bool process_and_close_socket(socket_t sock) override;
    bool admit(const std::string& address) EXCLUDES(addressesMutex_);
    void leave(const std::string& address) EXCLUDES(addressesMutex_);

    const ConnectionBounds bounds_;
    HandlerWithResponse check_;
    std::atomic<bool> stopping_{false};
    platform::Mutex addressesMutex_;
    std::map<std::string, unsigned> addresses_ GUARDED_BY(addressesMutex_);  // connections open by client address
};

}  // namespace pellory::web
