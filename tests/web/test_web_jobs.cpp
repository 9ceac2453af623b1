// What the web interface shows of the jobs: lists hold a summary of each record (its first 20
// answers and a count of the rest) and the whole record is job.json, read when asked for; a job's
// page shows its stored decoding as it is (never decoding its bytes again); the jobs page folds
// each run of status checks into one line, writes times for the browser to show in its own time,
// and links each receipt to its picture at full size.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/web_served.h"

namespace pellory::test {
namespace {

QJsonObject Object(const std::string& json) {
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    EXPECT_TRUE(doc.isObject()) << json.substr(0, 300);
    return doc.object();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A job of status requests with n answers.
vprinter::FinishedJob JobWithAnswers(uint64_t number, size_t n) {
    vprinter::FinishedJob job = MadeUpJob(number, "\x10\x04\x01");
    for (size_t i = 0; i < n; ++i) {
        job.answers.push_back({.offset = 3 * i, .request = "DLE EOT 1", .bytes = {static_cast<uint8_t>(0x10 + i % 7)}});
    }
    return job;
}

// Each job's record in /api/jobs lists its first 20 answers and counts the rest, its other members
// as job.json has them, in its order; /api/jobs/N is job.json whole, as the folder holds it now.
TEST(WebJobs, ListsHoldASummaryAndTheWholeRecordIsReadWhenAsked) {
    ServedWeb served;
    struct Case {
        size_t answers;
        int listed;
        int more;
    };
    const Case cases[] = {{0, 0, 0}, {20, 20, 0}, {21, 20, 1}, {10000, 20, 9980}};
    uint64_t number = 0;
    for (const Case& c : cases) served.take(JobWithAnswers(++number, c.answers));
    auto client = served.client();
    const httplib::Result list = client->Get("/api/jobs?after=0");
    ASSERT_TRUE(list);
    EXPECT_LT(list->body.size(), 16u << 10);
    const QJsonArray jobs = Object(list->body).value(QStringLiteral("jobs")).toArray();
    ASSERT_EQ(jobs.size(), 4);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.answers);
        const QJsonObject listed = jobs.at(static_cast<qsizetype>(i)).toObject();
        const QJsonObject whole = served.job(i + 1).Record();
        EXPECT_EQ(listed.value(QStringLiteral("answers")).toArray().size(), c.listed);
        EXPECT_EQ(listed.value(QStringLiteral("answers_more")).toInt(-1), c.more);
        EXPECT_EQ(whole.value(QStringLiteral("answers")).toArray().size(), static_cast<qsizetype>(c.answers));
        if (c.answers > 0) {
            EXPECT_EQ(listed.value(QStringLiteral("answers")).toArray().first(),
                      whole.value(QStringLiteral("answers")).toArray().first());
        }
        // The members before the answers as job.json writes them, in its order.
        const std::string record = served.job(i + 1).Read("job.json");
        const std::string text = client->Get("/api/jobs?after=" + std::to_string(i) + "&limit=1")->body;
        EXPECT_EQ(text.substr(0, text.find("\"answers\"")),
                  "{\"jobs\":[" + record.substr(0, record.find("\"answers\"")));
        const httplib::Result one = client->Get("/api/jobs/" + std::to_string(i + 1));
        ASSERT_TRUE(one);
        EXPECT_EQ(one->body, record.substr(0, record.size() - 1));
    }
    // The whole record is read when asked: as the folder holds it now.
    const std::filesystem::path file = served.job(4).path / "job.json";
    WriteFile(file, "{\"number\":4,\"note\":\"changed on disk\"}\n");
    EXPECT_EQ(client->Get("/api/jobs/4")->body, "{\"number\":4,\"note\":\"changed on disk\"}");
}

// Of the saved jobs only the newest kRecentListed keep their listed record in memory; an older
// one's is read from its job.json (as the folder holds it then) when a list holds it.
TEST(WebJobs, OlderJobsAreListedFromTheirFolder) {
    const ScratchFolder dir("pellory_web_listed");
    web::JobIndex index;
    const size_t total = web::kRecentListed + 2;
    for (uint64_t n = 1; n <= total; ++n) {
        const std::string name = jobs::JobFolderName(n);
        const std::string record = "{\"number\":" + std::to_string(n) + ",\"folder\":\"" + name + "\",\"receipts\":1}";
        std::filesystem::create_directories(dir.Path(name));
        WriteFile(std::filesystem::path(dir.Path(name)) / "job.json",
                  "{\"number\":" + std::to_string(n) + ",\"note\":\"on disk\"}\n");
        jobs::RecordedJob r;
        r.number = n;
        r.folder = dir.Path(name);
        r.json = record;
        index.add(r);
    }
    for (const auto& [n, listed] :
         {std::pair<uint64_t, std::string>{1, "{\"number\":1,\"note\":\"on disk\",\"status_check\":false}"},
          {2, "{\"number\":2,\"note\":\"on disk\",\"status_check\":false}"},
          {3, "{\"number\":3,\"folder\":\"000003\",\"receipts\":1,\"status_check\":false}"},
          {total, "{\"number\":" + std::to_string(total) + ",\"folder\":\"" + jobs::JobFolderName(total) +
                      "\",\"receipts\":1,\"status_check\":false}"}}) {
        ASSERT_NE(index.find(n), nullptr) << n;
        EXPECT_EQ(web::ListedRecord(*index.find(n)), listed) << n;
    }
}

// A job not saved has no job.json: its record is the listed one.
TEST(WebJobs, AJobNotSavedIsItsListedRecord) {
    ServedWeb served(WebSetup{.save = false});
    served.take(JobWithAnswers(1, 30));
    const QJsonObject record = Object(served.client()->Get("/api/jobs/1")->body);
    EXPECT_TRUE(record.value(QStringLiteral("folder")).isNull());
    EXPECT_EQ(record.value(QStringLiteral("answers")).toArray().size(), 20);
    EXPECT_EQ(record.value(QStringLiteral("answers_more")).toInt(), 10);
}

// Jobs not saved live only in the index: it keeps the newest kMaxUnsavedListed of them.
TEST(WebJobs, TheIndexKeepsABoundedNumberOfJobsNotSaved) {
    web::JobIndex index;
    const size_t total = web::kMaxUnsavedListed + 5;
    for (uint64_t n = 1; n <= total; ++n) {
        jobs::RecordedJob r;
        r.number = n;
        r.json = "{\"number\":" + std::to_string(n) + ",\"folder\":null,\"bytes\":3,\"receipts\":1}";
        index.add(r);
    }
    EXPECT_EQ(index.size(), web::kMaxUnsavedListed);
    EXPECT_EQ(index.find(5), nullptr);
    ASSERT_NE(index.find(6), nullptr);
    EXPECT_EQ(
        web::ListedRecord(*index.find(total)),
        "{\"number\":" + std::to_string(total) + ",\"folder\":null,\"bytes\":3,\"receipts\":1,\"status_check\":false}");
}

// /jobs/N shows decoding.txt of the job's folder as it is, line by line in its columns (a run of
// one command with its count, a text, a line of another shape), the first 5,000 lines and a link
// to the whole; never a decoding of bytes.bin, which is changed here to tell them apart.
TEST(WebJobs, AJobsPageShowsItsStoredDecoding) {
    ServedWeb served;
    ASSERT_EQ(served.print("\x1b@Hello\n\x1dV\x00"), 1u);
    const std::filesystem::path folder = served.job(1).path;
    WriteFile(folder / "bytes.bin", "\x1b@Other bytes\n");
    std::string many;
    for (int i = 0; i < 6000; ++i) many += "0000  0A  LF  print and line feed\n";
    struct Case {
        const char* what;
        std::string decoding;  // empty: no decoding.txt
        std::vector<std::string> holds;
        size_t rows;
        std::vector<std::string> holdsNot = {};
    };
    const Case cases[] = {
        {"as written",
         "0000  1B 40  ESC @  initialize printer\n0002  0A  LF  print and line feed (x 50,000)\n0004  48 69  \"Hi\"\n"
         "0006  1C 99  FS 99  unknown; ESC/P: something\nsome other line  of its own\n",
         {"<tr><td>0000</td><td>1B 40</td><td>ESC @</td><td>initialize printer</td></tr>",
          "<tr><td>0002</td><td>0A</td><td>LF</td><td>print and line feed (x 50,000)</td></tr>",
          "<tr class=\"text\"><td>0004</td><td>48 69</td><td></td><td>&quot;Hi&quot;</td></tr>",
          "<tr><td>0006</td><td>1C 99</td><td>FS 99</td><td>unknown; ESC/P: something</td></tr>",
          "<tr><td></td><td></td><td></td><td>some other line  of its own</td></tr>"},
         5,
         {"Other", "the whole decoding"}},
        {"6,000 lines",
         many,
         {"The first 5000 lines; <a href=\"/api/jobs/1/decoding\">the whole decoding</a> (" +
          std::to_string(many.size()) + " bytes)."},
         5000},
        {"a line of 3,000 characters",
         "0000  41  \"" + std::string(3000, 'A') + "\"\n",
         {"<td>&quot;" + std::string(1024 - 11, 'A') + " ...</td>"},
         1},
        {"no decoding", "", {"The job's decoding was not saved."}, 0, {"<table"}},
    };
    auto client = served.client();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(folder / "decoding.txt");
        if (!c.decoding.empty()) WriteFile(folder / "decoding.txt", c.decoding);
        const httplib::Result page = client->Get("/jobs/1");
        ASSERT_TRUE(page);
        EXPECT_EQ(page->status, 200);
        for (const std::string& part : c.holds) EXPECT_NE(page->body.find(part), std::string::npos) << part;
        for (const std::string& part : c.holdsNot) EXPECT_EQ(page->body.find(part), std::string::npos) << part;
        size_t rows = 0;
        for (size_t at = page->body.find("<tr"); at != std::string::npos; at = page->body.find("<tr", at + 1)) ++rows;
        EXPECT_EQ(rows, c.rows == 0 ? 0 : c.rows + 1);  // and the head's row
        const httplib::Result whole = client->Get("/api/jobs/1/decoding");
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->status, c.decoding.empty() ? 404 : 200);
        if (!c.decoding.empty()) {
            EXPECT_EQ(whole->body, c.decoding);
        }
    }
}

// The jobs page: each run of status checks (no receipts, no text) is one line, "N status checks,
// FROM-TO", that opens to their links; every time is written in UTC with its title (the script
// shows it in the browser's time); a receipt links to its picture at full size; and the page
// keeps to its own script (no markup that runs or styles anything inline).
TEST(WebJobs, TheJobsPageFoldsStatusChecks) {
    ServedWeb served;
    const std::string receipt = "\x1b@Total 1.00\n\x1dV\x00";
    struct Job {
        std::string bytes;
        bool check;
    };
    const Job printed[] = {
        {"\x10\x04\x01", true},
        {"\x1dI\x01\x10\x04\x04", true},
        {receipt, false},
        {"\x10\x04\x02", true},
        {"\x1b@", true},
        {"\x10\x04\x01\x10\x04\x01", true},
        {"\x1b@text, no line end", false},
    };
    for (const Job& job : printed) served.print(job.bytes);
    ASSERT_EQ(served.index.size(), std::size(printed));
    auto client = served.client();
    const QJsonArray listed = Object(client->Get("/api/jobs?after=0")->body).value(QStringLiteral("jobs")).toArray();
    ASSERT_EQ(listed.size(), static_cast<qsizetype>(std::size(printed)));
    std::vector<std::string> ends;
    for (size_t i = 0; i < std::size(printed); ++i) {
        const QJsonObject record = listed.at(static_cast<qsizetype>(i)).toObject();
        EXPECT_EQ(record.value(QStringLiteral("status_check")).toBool(!printed[i].check), printed[i].check) << i;
        ends.push_back(record.value(QStringLiteral("end")).toString().toStdString());
    }
    const auto time = [&](size_t number) {
        std::string utc = ends[number - 1];
        utc[10] = ' ';
        utc.pop_back();
        return "<time datetime=\"" + ends[number - 1] + "\" title=\"" + utc + " UTC\">" + ends[number - 1] + "</time>";
    };
    const httplib::Result page = client->Get("/");
    ASSERT_TRUE(page);
    const std::string& html = page->body;
    // Newest first: job 7, the run 6-4, job 3, the run 2-1.
    const std::string parts[] = {
        "<article class=\"job\" id=\"job-7\">",
        "<details class=\"checks\" data-count=\"3\"><summary>3 status checks, " + time(4) + "-" + time(6) +
            "</summary><p class=\"links\"><a href=\"/jobs/6\">Job 000006</a> <a href=\"/jobs/5\">Job 000005</a> "
            "<a href=\"/jobs/4\">Job 000004</a> </p></details>",
        "<article class=\"job\" id=\"job-3\">",
        "<a href=\"/api/jobs/3/receipts/1.png\" title=\"The receipt at full size\"><img "
        "src=\"/api/jobs/3/receipts/1.png\"",
        "<details class=\"checks\" data-count=\"2\"><summary>2 status checks, " + time(1) + "-" + time(2) +
            "</summary>",
    };
    size_t at = 0;
    for (const std::string& part : parts) {
        const size_t found = html.find(part, at);
        EXPECT_NE(found, std::string::npos) << part << "\nafter " << at << " in\n" << html;
        if (found != std::string::npos) at = found;
    }
    EXPECT_NE(html.find(time(3)), std::string::npos);
    for (const char* job : {"id=\"job-1\"", "id=\"job-2\"", "id=\"job-4\"", "id=\"job-5\"", "id=\"job-6\""})
        EXPECT_EQ(html.find(job), std::string::npos) << job;
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self';"), std::string::npos);
    for (const char* inline_ : {" style=", " onclick=", " onerror=", "<style", "javascript:"})
        EXPECT_EQ(html.find(inline_), std::string::npos) << inline_;
    EXPECT_EQ(html.find("<script"), html.find("<script src=\"/live.js\"></script>"));
}

}  // namespace
}  // namespace pellory::test
