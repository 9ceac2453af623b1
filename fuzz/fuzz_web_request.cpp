// libFuzzer target for what the web interface reads from a request itself (web/web_request.h):
// the numbers of paths and queries, a page's query, a PUT's JSON body (through Qt's JSON reader),
// the content type, the origin and the Host header (web/host_names.h); and the escaping of a job's text into HTML (web/web_pages.h).
// What each gives back keeps its promises: a number is the digits it came from, a page asks for
// 1 to 1000 jobs and never both ways, a state change touches only the states, escaped text has no
// markup character left.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "vprinter/printer_state.h"
#include "web/host_names.h"
#include "web/web_pages.h"
#include "web/web_request.h"

namespace web = pellory::web;
namespace vp = pellory::vprinter;
using pellory::fuzz::Check;

namespace {

std::optional<std::string> Maybe(FuzzedDataProvider& in) {
    if (!in.ConsumeBool()) return std::nullopt;
    return in.ConsumeRandomLengthString(32);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(64);
    if (const std::optional<uint64_t> n = web::ReadNumber(text)) {
        Check(!text.empty() && text.size() <= 18 && text.find_first_not_of("0123456789") == std::string::npos);
        Check(*n == std::stoull(text));
    }

    const std::optional<std::string> after = Maybe(in), before = Maybe(in), limit = Maybe(in);
    std::string why;
    if (const std::optional<web::PageQuery> q = web::ReadPageQuery(after, before, limit, &why)) {
        Check(q->limit >= 1 && q->limit <= web::kMaxPageJobs);
        Check(!(q->after && q->before));
        Check(q->after.has_value() == after.has_value() && q->before.has_value() == before.has_value());
    } else {
        Check(!why.empty());
    }

    const vp::States current = in.ConsumeIntegral<vp::States>();
    const std::string contentType = in.ConsumeRandomLengthString(40);
    const std::string origin = in.ConsumeRandomLengthString(40);
    web::IsJsonContentType(contentType);
    Check(web::IsOwnOrigin(std::nullopt, origin));
    // A Host header a loopback server answers is a name or address and a port: nothing of a path, a
    // user or a space.
    static const web::HostNames loopback(vp::ListenAddress{"127.0.0.1", 8080}, {});
    Check(loopback.refusal({origin}).has_value() || origin.find_first_of("/@ \t") == std::string::npos);
    const std::string body = in.ConsumeRemainingBytesAsString();
    why.clear();
    if (const std::optional<vp::States> states = web::ReadStateChange(body, current, &why)) {
        vp::States all = 0;
        for (const vp::StateName& s : vp::kStateNames) all = static_cast<vp::States>(all | s.bit);
        Check((*states & ~all) == (current & ~all));
    } else {
        Check(!why.empty());
    }
    const std::string html = web::HtmlEscape(body);
    Check(html.find_first_of("<>\"'") == std::string::npos);
    return 0;
}
