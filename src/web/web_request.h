// What the web interface reads from a request, without the HTTP server: the numbers in its paths
// and its query, the names its query may hold, the printer's state from a PUT's JSON body, and the
// checks a PUT must pass (its content type, its origin). Everything else in a request is the HTTP
// library's to read (and the Host header host_names.h's to judge).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vprinter/printer_state.h"

namespace pellory::web {

// The most jobs one page of /api/jobs holds, and how many it holds when not asked.
inline constexpr uint64_t kMaxPageJobs = 1000;
inline constexpr uint64_t kDefaultPageJobs = 50;
// The longest body a PUT may have.
inline constexpr size_t kMaxBodyBytes = 4096;

// A number of a path or a query: 1 to 18 decimal digits and nothing else ("7", "000123"); nothing
// for anything else ("", "-1", "1e3", " 7", "..", "%2e").
std::optional<uint64_t> ReadNumber(std::string_view text);

// Which jobs a page of /api/jobs holds.
struct PageQuery {
    // after: the jobs numbered above it, oldest first (a page that follows new jobs). before: the
    // jobs numbered below it, newest first. Neither: the newest jobs, newest first.
    std::optional<uint64_t> after;
    std::optional<uint64_t> before;
    uint64_t limit = kDefaultPageJobs;  // 1 to kMaxPageJobs
};
// The query's values as given (nothing where a name is absent). Nothing, with the reason in
// *why, when a value is not a number, the limit is 0 or above kMaxPageJobs, or both after and
// before are given.
std::optional<PageQuery> ReadPageQuery(const std::optional<std::string>& after,
                                       const std::optional<std::string>& before,
                                       const std::optional<std::string>& limit, std::string* why);

// The state a PUT of /api/status asks for: its body a JSON object whose members are state names
// ("paper-end") with true (set) or false (clear); states not named keep their value in current.
// Nothing, with the reason in *why, for a body that is not such an object (another value, a name
// that is not a state, a value that is not true or false).
std::optional<vprinter::States> ReadStateChange(std::string_view body, vprinter::States current, std::string* why);

// Whether a Content-Type header says JSON: "application/json", parameters allowed
// ("application/json; charset=utf-8"), case as it comes.
bool IsJsonContentType(std::string_view contentType);

// Whether a request may change the state by its origin: no Origin header (a script, curl) or the
// page's own origin, "http://" followed by the Host header the request was sent to.
bool IsOwnOrigin(const std::optional<std::string>& origin, std::string_view host);

// Whether a query holds only the names a route knows, each at most once. names: every name of the
// query, in order (a name given twice is there twice). False, with the reason in *why, otherwise.
bool QueryNamesKnown(const std::vector<std::string>& names, const std::vector<std::string_view>& known,
                     std::string* why);

}  // namespace pellory::web
