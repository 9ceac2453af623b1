// The bounds the web server holds each connection to (guarded_server.h says how).
#pragma once

#include <chrono>
#include <cstddef>

namespace pellory::web {

struct ConnectionBounds {
    size_t maxHeadBytes = 16u << 10;  // the request line and the headers together
    size_t maxBodyBytes = 8u << 10;   // a body as sent, a chunked body's framing included
    // From a request's first byte to its last: the line, the headers and the body.
    std::chrono::milliseconds requestDeadline{10000};
    std::chrono::milliseconds idleWait{2000};   // a kept-alive connection, for its next request
    std::chrono::milliseconds writeWait{5000};  // for the client to take the next part of an answer
    size_t requestsPerConnection = 100;
    unsigned threads = 32;        // connections served at once; more wait for a thread
    unsigned maxPerAddress = 16;  // connections of one client address at once; more are refused
};

}  // namespace pellory::web
