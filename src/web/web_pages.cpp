#include "web/web_pages.h"

#include <span>

#include "jobs/job_folder.h"
#include "jobs/json_text.h"
#include "protocol/model_profile.h"

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

// "paper p58" on 58 mm paper: the style sheet's class of each width.
std::string PaperMm(const PageContext& c) { return std::to_string(protocol::ProfileOf(c.model).paperMm); }
std::string PaperClass(const PageContext& c) { return "paper p" + PaperMm(c); }

// A receipt's picture at the paper's width, a link to the picture itself (at full size).
std::string Receipts(const ListedJob& job, const PageContext& c) {
    if (job.folder.empty()) return "<p class=\"note\">Not saved: no pictures.</p>";
    if (job.picturesPending) return "<p class=\"note\">Its pictures are being written.</p>";
    std::string html;
    for (uint64_t k = 1; k <= job.receipts; ++k) {
        const std::string png = "/api/jobs/" + Number(job.number) + "/receipts/" + Number(k) + ".png";
        html += "<div class=\"" + PaperClass(c) + "\"><a href=\"" + png +
                "\" title=\"The receipt at full size\"><img src=\"" + png + "\" alt=\"receipt " + Number(k) +
                " of job " + Number(job.number) + "\" loading=\"lazy\"></a></div>";
    }
    return html;
}

// An instant as the pages write it: its ISO 8601 UTC text (which the script shows in the browser's
// time), and the same in UTC as its title: "2026-03-07 09:01:02.123 UTC".
std::string Time(const std::string& iso) {
    std::string utc = iso;
    if (const size_t t = utc.find('T'); t != std::string::npos) utc[t] = ' ';
    if (!utc.empty() && utc.back() == 'Z') utc.pop_back();
    return "<time datetime=\"" + HtmlEscape(iso) + "\" title=\"" + HtmlEscape(utc) + " UTC\">" + HtmlEscape(iso) +
           "</time>";
}

std::string Facts(const ListedJob& job) {
    std::string ended = job.ended;
    if (!job.reason.empty()) ended += " (" + job.reason + ")";
    return "<p class=\"facts\"><span class=\"source\">" + HtmlEscape(job.source) + "</span> " + Time(job.end) +
           " <span class=\"bytes\">" + Number(job.bytes) + (job.bytes == 1 ? " byte" : " bytes") +
           "</span> <span class=\"ended\">" + HtmlEscape(ended) + "</span></p>";
}

std::string JobCard(const ListedJob& job, const PageContext& c) {
    const std::string n = Number(job.number);
    return "<article class=\"job\" id=\"job-" + n + "\"><h2><a href=\"/jobs/" + n + "\">Job " +
           jobs::JobFolderName(job.number) + "</a></h2>" + Facts(job) + Receipts(job, c) + "</article>\n";
}

// A run of status checks (newest first) as one line that opens to a link to each.
std::string ChecksRun(std::span<const std::shared_ptr<const ListedJob>> run) {
    const ListedJob& newest = *run.front();
    const ListedJob& oldest = *run.back();
    std::string html = "<details class=\"checks\" data-count=\"" + Number(run.size()) + "\"><summary>" +
                       Number(run.size()) + (run.size() == 1 ? " status check" : " status checks") + ", " +
                       Time(oldest.end);
    if (run.size() > 1) html += "-" + Time(newest.end);
    html += "</summary><p class=\"links\">";
    for (const auto& job : run) {
        html += "<a href=\"/jobs/" + Number(job->number) + "\">Job " + jobs::JobFolderName(job->number) + "</a> ";
    }
    return html + "</p></details>\n";
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
    html += "<header><h1>Pellory printer server</h1><p>" + HtmlEscape(protocol::ProfileOf(context.model).name) + ", " +
            PaperMm(context) + " mm paper</p></header>\n";
    html += StateBoxes(context);
    html += "<main id=\"jobs\">\n";
    for (size_t i = 0; i < jobs.size();) {
        if (!jobs[i]->statusCheck) {
            html += JobCard(*jobs[i++], context);
            continue;
        }
        size_t end = i;
        while (end < jobs.size() && jobs[end]->statusCheck) ++end;
        html += ChecksRun(std::span(jobs).subspan(i, end - i));
        i = end;
    }
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
        html += std::string("<p class=\"note\">") +
                (job.folder.empty() ? "Not saved: no decoding." : "The job's decoding was not saved.") + "</p>";
        return html + "</body></html>\n";
    }
    html +=
        "<div class=\"scroll\"><table class=\"decoding\"><thead><tr><th>Offset</th><th>Bytes</th>"
        "<th>Command</th><th>Meaning</th></tr></thead><tbody>\n";
    for (const std::string& line : decoding.lines) {
        const DecodingLine d = SplitDecodingLine(line);
        html += std::string("<tr") + (d.text ? " class=\"text\"" : "") + "><td>" + HtmlEscape(d.offset) + "</td><td>" +
                HtmlEscape(d.bytes) + "</td><td>" + HtmlEscape(d.command) + "</td><td>" + HtmlEscape(d.meaning) +
                "</td></tr>\n";
    }
    html += "</tbody></table></div>\n";
    if (decoding.more) {
        html += "<p class=\"note\">The first " + Number(decoding.lines.size()) + " lines; <a href=\"/api/jobs/" + n +
                "/decoding\">the whole decoding</a> (" + Number(decoding.fileBytes) + " bytes).</p>";
    }
    return html + "</body></html>\n";
}

std::string JobsJson(const std::vector<std::shared_ptr<const ListedJob>>& list) {
    std::string json = "{\"jobs\":[";
    bool first = true;
    for (const auto& job : list) {
        if (!first) json += ',';
        first = false;
        json += ListedRecord(*job);
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
