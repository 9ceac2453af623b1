#include "web/web_pages.h"

#include <cstdio>

#include "jobs/job_folder.h"
#include "jobs/json_text.h"
#include "protocol/hex.h"
#include "receipt/interpreter.h"

namespace pellory::web {

namespace {

std::string Number(uint64_t n) { return std::to_string(n); }

// The head of every page: the style sheet of res/web/ inside.
std::string Head(std::string_view title) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>" +
           HtmlEscape(title) + "</title><link rel=\"stylesheet\" href=\"/style.css\"></head>\n";
}

std::string PaperClass(const PageContext& c) { return c.widthDots <= 384 ? "paper p58" : "paper p80"; }

std::string Receipts(const ListedJob& job, const PageContext& c) {
    if (job.folder.empty()) return "<p class=\"note\">Not saved: no pictures.</p>";
    std::string html;
    for (uint64_t k = 1; k <= job.receipts; ++k) {
        html += "<div class=\"" + PaperClass(c) + "\"><img src=\"/api/jobs/" + Number(job.number) + "/receipts/" +
                Number(k) + ".png\" alt=\"receipt " + Number(k) + " of job " + Number(job.number) +
                "\" loading=\"lazy\"></div>";
    }
    return html;
}

std::string Facts(const ListedJob& job) {
    std::string ended = job.ended;
    if (!job.reason.empty()) ended += " (" + job.reason + ")";
    return "<p class=\"facts\"><span class=\"source\">" + HtmlEscape(job.source) + "</span> <time>" +
           HtmlEscape(job.end) + "</time> <span class=\"bytes\">" + Number(job.bytes) +
           (job.bytes == 1 ? " byte" : " bytes") + "</span> <span class=\"ended\">" + HtmlEscape(ended) + "</span></p>";
}

std::string JobCard(const ListedJob& job, const PageContext& c) {
    const std::string n = Number(job.number);
    return "<article class=\"job\" id=\"job-" + n + "\"><h2><a href=\"/jobs/" + n + "\">Job " +
           jobs::JobFolderName(job.number) + "</a></h2>" + Facts(job) + Receipts(job, c) + "</article>\n";
}

std::string StateBoxes(const PageContext& c) {
    std::string html = "<fieldset id=\"states\"><legend>Virtual Printer</legend>";
    for (const StateBox& box : kStateBoxes) {
        const bool set = (c.states & box.state) != 0;
        const bool checked = box.inverted ? !set : set;
        std::string state;
        for (const vprinter::StateName& s : vprinter::kStateNames) {
            if (s.bit == box.state) state = std::string(s.name);
        }
        html += "<label><input type=\"checkbox\" id=\"state-" + state + "\" data-state=\"" + state + "\"" +
                (box.inverted ? " data-inverted=\"1\"" : "") + (checked ? " checked" : "") +
                (c.control ? "" : " disabled") + "> " + box.caption + "</label>";
    }
    if (!c.control) html += "<p class=\"note\">Shown only: serve with --http-control to change the state here.</p>";
    return html + "</fieldset>\n";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

std::string JobsPage(const std::vector<std::shared_ptr<const ListedJob>>& jobs, uint64_t newest,
                     const PageContext& context, JobsPageSpan span) {
    std::string html = Head("Pellory printer server");
    html += "<body data-newest=\"" + Number(newest) + "\" data-paper=\"" + PaperClass(context) + "\"" +
            (span.first ? "" : " data-live=\"0\"") + ">";
    html += "<header><h1>Pellory printer server</h1><p>" + HtmlEscape(context.modelName) + ", " +
            (context.widthDots <= 384 ? "58" : "80") + " mm paper</p></header>\n";
    html += StateBoxes(context);
    html += "<main id=\"jobs\">\n";
    for (const auto& job : jobs) html += JobCard(*job, context);
    html += "</main>\n";
    if (span.first) {
        html += "<p id=\"empty\" class=\"note\"" + std::string(jobs.empty() ? "" : " hidden") +
                ">No jobs yet: they appear here as they are printed.</p>\n";
    }
    if (!span.first || span.older) {
        html += "<nav class=\"pages\">";
        if (!span.first) html += "<a href=\"/\">Newest jobs</a>";
        if (span.older && !jobs.empty())
            html += "<a href=\"/?before=" + Number(jobs.back()->number) + "\">Older jobs</a>";
        html += "</nav>\n";
    }
    html += "<script src=\"/live.js\"></script></body></html>\n";
    return html;
}

ShownDecoding DecodeForPage(const std::vector<uint8_t>& bytes) {
    ShownDecoding shown;
    shown.available = true;
    receipt::Interpreter printer(receipt::kOrva58Dots, receipt::Interpreter::Drawing::Off);
    printer.setDecodeSink([&](const receipt::DecodedCommand& c) {
        if (shown.commands.size() < ShownDecoding::kMaxShownCommands) {
            shown.commands.push_back(c);
        } else {
            ++shown.more;
        }
    });
    printer.feed(bytes.data(), bytes.size());
    printer.finish();
    return shown;
}

std::string JobPage(const ListedJob& job, const ShownDecoding& decoding, const PageContext& context) {
    const std::string n = Number(job.number);
    std::string html = Head("Job " + jobs::JobFolderName(job.number));
    html += "<body><header><p><a href=\"/\">All jobs</a></p><h1>Job " + jobs::JobFolderName(job.number) +
            "</h1></header>\n";
    html += "<article class=\"job\">" + Facts(job) + Receipts(job, context);
    if (!job.folder.empty()) {
        html += "<p><a href=\"/api/jobs/" + n + "/bytes\" download=\"job-" + jobs::JobFolderName(job.number) +
                ".bin\">The bytes (" + Number(job.bytes) + ")</a></p>";
    }
    html += "</article>\n<h2>Decoding</h2>\n";
    if (!decoding.available) {
        html += "<p class=\"note\">The job's bytes were not saved.</p>";
    } else {
        html +=
            "<div class=\"scroll\"><table class=\"decoding\"><thead><tr><th>Offset</th><th>Bytes</th>"
            "<th>Command</th><th>Meaning</th></tr></thead><tbody>\n";
        for (const receipt::DecodedCommand& c : decoding.commands) {
            char offset[24];
            std::snprintf(offset, sizeof offset, "%04zX", c.offset);
            constexpr size_t kShownBytes = 12;
            std::string bytes = protocol::hex::Spaced(c.bytes.data(), std::min(c.bytes.size(), kShownBytes));
            if (receipt::StreamLength(c) > kShownBytes)
                bytes += " ... (" + std::to_string(receipt::StreamLength(c)) + " bytes)";
            const std::string meaning = c.text ? c.meaning : (c.known ? c.meaning : "unknown");
            html += std::string("<tr") + (c.text ? " class=\"text\"" : "") + "><td>" + offset + "</td><td>" +
                    HtmlEscape(bytes) + "</td><td>" + HtmlEscape(c.mnemonic) + "</td><td>" + HtmlEscape(meaning) +
                    "</td></tr>\n";
        }
        html += "</tbody></table></div>\n";
        if (decoding.more > 0) html += "<p class=\"note\">... and " + Number(decoding.more) + " more commands</p>";
    }
    return html + "</body></html>\n";
}

std::string JobsJson(const std::vector<std::shared_ptr<const ListedJob>>& list) {
    std::string json = "{\"jobs\":[";
    bool first = true;
    for (const auto& job : list) {
        if (!first) json += ',';
        first = false;
        json += job->record;
    }
    return json + "]}";
}

std::string StatusJson(vprinter::States states, bool control) {
    jobs::JsonObject o;
    o.add("state", vprinter::StatesText(states));
    for (const vprinter::StateName& s : vprinter::kStateNames) o.add(s.name, (states & s.bit) != 0);
    return o.add("control", control).text();
}

}  // namespace pellory::web
