// What the tests of the web interface share: a printer server on 127.0.0.1 whose jobs a job
// recorder writes into a scratch folder and a JobIndex lists, the web interface on 127.0.0.1 in
// front of them (both on ports the system picks), jobs printed over plain sockets, and requests
// made with cpp-httplib's client or, where the path must reach the server exactly as written, as
// raw bytes over a socket. The including test links pellory_web, Qt Core and cpp-httplib.
#pragma once

#include <gtest/gtest.h>

#include <httplib.h>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jobs/job_folder.h"
#include "jobs/job_recorder.h"
#include "support/job_folders.h"
#include "support/scratch_folder.h"
#include "support/server_clients.h"
#include "vprinter/printer_server.h"
#include "web/job_index.h"
#include "web/web_server.h"

namespace pellory::test {

struct WebSetup {
    bool control = false;    // --http-control
    size_t earlierJobs = 0;  // jobs written into the folder before the server starts (made up)
    std::string earlierSource = "tcp:127.0.0.1:50000";
    unsigned webThreads = 4;
};

class ServedWeb {
public:
    explicit ServedWeb(WebSetup setup = {}) : setup_(setup) {
        if (setup.earlierJobs > 0) WriteEarlierJobs(setup.earlierJobs, setup.earlierSource);
        jobs::JobRecorder::Options o;
        o.folder = jobsFolder();
        recorder_ = std::make_unique<jobs::JobRecorder>(
            o, [this](const jobs::RecordedJob& r) { index.add(r); }, [](const std::string&) {});
        std::string why;
        EXPECT_TRUE(recorder_->open(&why)) << why;
        index.load(jobsFolder());
        vprinter::ServerOptions options = LoopbackOptions();
        printer = std::make_unique<vprinter::PrinterServer>(options);
        printer->setJobSink([this](vprinter::FinishedJob& job, vprinter::HandOver) {
            recorder_->take(std::move(job));
            return true;
        });
        EXPECT_TRUE(printer->start(&why)) << why;
        web::WebOptions w;
        w.address = {"127.0.0.1", 0};
        w.control = setup.control;
        w.threads = setup.webThreads;
        web_ = std::make_unique<web::WebServer>(w, *printer, index);
        EXPECT_TRUE(web_->start(&why)) << why;
    }
    ~ServedWeb() {
        web_->stop();
        printer->stop();
        recorder_->finish();
    }

    std::string jobsFolder() const { return folder_.Path("jobs"); }
    uint16_t webPort() const { return web_->boundAddress().port; }
    uint16_t printerPort() const { return printer->boundAddresses().at(0).port; }
    JobFolder job(uint64_t n) const { return {std::filesystem::path(jobsFolder()) / jobs::JobFolderName(n)}; }

    // Prints bytes over a connection of their own and waits until the web lists the job; its number.
    uint64_t print(const std::string& bytes) {
        const size_t before = index.size();
        {
            PeerSocket peer("127.0.0.1", printerPort());
            EXPECT_TRUE(peer.ok());
            EXPECT_TRUE(peer.send(Bytes(bytes.begin(), bytes.end())));
        }
        EXPECT_TRUE(WaitUntil([&] { return index.size() > before; }, 20000));
        return index.newest();
    }
    // A job handed to the recorder as the server would, with a source of the test's choosing.
    void take(uint64_t serverNumber, const std::string& bytes, const std::string& source) {
        recorder_->take(MadeUpJob(serverNumber, bytes, source));
    }

    std::unique_ptr<httplib::Client> client() const {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", webPort());
        c->set_read_timeout(10, 0);
        c->set_connection_timeout(5, 0);
        return c;
    }

    // The whole answer to a request sent as these bytes (the server closes after it).
    std::string raw(const std::string& request) const {
        PeerSocket peer("127.0.0.1", webPort());
        EXPECT_TRUE(peer.ok());
        EXPECT_TRUE(peer.send(Bytes(request.begin(), request.end())));
        const Bytes answer = peer.readQuiet(5000);  // until the server closes (Connection: close)
        return std::string(answer.begin(), answer.end());
    }
    // GET path as written (no client rewrites it): the status of the answer's first line, and the answer.
    int rawGet(const std::string& path, std::string* answer = nullptr) const {
        const std::string a = raw("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        if (answer) *answer = a;
        if (a.compare(0, 9, "HTTP/1.1 ") != 0 || a.size() < 12) return -1;
        return std::stoi(a.substr(9, 3));
    }

    web::JobIndex index;
    std::unique_ptr<vprinter::PrinterServer> printer;

private:
    // Job folders as an earlier run left them: numbers 1 to n, written by a recorder of their own.
    void WriteEarlierJobs(size_t n, const std::string& source) {
        jobs::JobRecorder::Options o;
        o.folder = jobsFolder();
        jobs::JobRecorder earlier(o, {}, {});
        std::string why;
        ASSERT_TRUE(earlier.open(&why)) << why;
        for (size_t i = 1; i <= n; ++i) earlier.take(MadeUpJob(i, "job " + std::to_string(i) + "\n\x1dV\x00", source));
        earlier.finish();
    }

    WebSetup setup_;
    ScratchFolder folder_{"pellory_web"};
    std::unique_ptr<jobs::JobRecorder> recorder_;
    std::unique_ptr<web::WebServer> web_;
};

}  // namespace pellory::test
