// What the web interface answers, as text: the pages (/ and /jobs/N) as HTML with every text of a
// job escaped, and the JSON of /api/jobs and /api/status. No HTTP and no files here: web_server.cpp
// reads the files and sends the answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/model_profile.h"
#include "vprinter/printer_state.h"
#include "web/job_files.h"
#include "web/job_index.h"

namespace pellory::web {

// The check boxes of the page, as the "Virtual Printer" window names them, in its order. Online
// stands for the printer not being offline: it is checked while offline is clear.
struct StateBox {
    const char* caption;
    vprinter::StateBit state;
    bool inverted;  // checked while the state is clear
};
inline constexpr StateBox kStateBoxes[] = {
    {"Over Heat", vprinter::kOverheat, false},
    {"Over Voltage", vprinter::kError, false},
    {"Online", vprinter::kOffline, true},
    {"Paper Error", vprinter::kPaperEnd, false},
    {"Platen Open", vprinter::kCoverOpen, false},
    {"Cutter Error", vprinter::kCutterError, false},
    {"Paper Near End", vprinter::kPaperNearEnd, false},
    {"Drawer Open", vprinter::kDrawerOpen, false},
    {"Silent", vprinter::kSilent, false},
};

// text with & < > " ' as character references: safe inside an element and a quoted attribute.
std::string HtmlEscape(std::string_view text);

// What a page shows besides the jobs.
struct PageContext {
    vprinter::States states = 0;
    bool control = false;   // the boxes change the state (--http-control)
    vprinter::Model model = vprinter::Model::Orva80;  // its name and paper are shown
};

// Where a page of "/" lies among the jobs: the first page (the newest jobs) follows new jobs as
// they come; an older one ("/?before=N") stays as it is and links back to the first.
struct JobsPageSpan {
    bool first = true;
    bool older = false;  // jobs older than the last one shown exist: a link to them
};

// "/": the jobs given (newest first), each run of status checks among them folded into one line
// ("3 status checks, FROM-TO" that opens to their links), the state boxes, and the script that
// adds new jobs as they come; newest is the highest job number that exists (where the script
// starts following). Times are written in UTC (the script shows them in the browser's time).
std::string JobsPage(const std::vector<std::shared_ptr<const ListedJob>>& jobs, uint64_t newest,
                     const PageContext& context, JobsPageSpan span = {});

// "/jobs/N": the job's facts, its receipts, a link to its bytes and its stored decoding (the first
// lines of decoding.txt, as they are; a link to the whole of it when there is more).
std::string JobPage(const ListedJob& job, const ShownDecoding& decoding, const PageContext& context);

// /api/jobs: {"jobs":[record, ...]} in the order given, each record in its listed form.
std::string JobsJson(const std::vector<std::shared_ptr<const ListedJob>>& jobs);
// /api/status: {"state":"paper-end","paper-near-end":false,"paper-end":true,...,"control":false}:
// the state as "serve" writes it, each state by name, and whether a PUT may change them.
std::string StatusJson(vprinter::States states, bool control);

}  // namespace pellory::web
