// What one job may make under "pellory-cli serve", run as a program of its own: --max-pictures,
// --max-output-bytes and --max-write-seconds reach the jobs it writes (a job past a bound is cut
// short, with the reason in its record), the defaults hold without them, and values that are not
// numbers of their range end it with status 3 naming the option.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/job_folders.h"
#include "support/server_clients.h"

namespace pellory::test {
namespace {

namespace fs = std::filesystem;

std::string Receipts(int count) {
    std::string r;
    for (int i = 0; i < count; ++i) r += "receipt " + std::to_string(i) + "\n" + std::string("\x1d\x56\x42\x00", 4);
    return r;
}

// ESC ! 1 and ESC ! 2 by turns: two commands, a line of decoding each, never the same twice in a row.
std::string ModeChanges(int pairs) {
    std::string r;
    for (int i = 0; i < pairs; ++i) r += "\x1b\x21\x01\x1b\x21\x02";
    return r;
}

class ServeBoundsTest : public ScratchFolderTest {
protected:
    ServeBoundsTest() : ScratchFolderTest("pellory_serve_bounds") {}
    std::string Jobs() const { return Path("jobs"); }
    JobFolder Job(uint64_t n) const {
        char name[32];
        std::snprintf(name, sizeof name, "%06llu", static_cast<unsigned long long>(n));
        return {fs::path(Jobs()) / name};
    }
};

TEST_F(ServeBoundsTest, TheBoundsOfTheCommandLineAndTheDefaultsReachTheJobs) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string stream;
        size_t receipts;
        std::string cutShort;
    };
    const std::vector<Case> cases = {
        {"--max-pictures", {"--max-pictures", "2"}, Receipts(5), 2, "more than 2 pictures; the rest is not drawn"},
        {"the default bound of pictures", {}, Receipts(501), 500, "more than 500 pictures; the rest is not drawn"},
        {"no bound of pictures", {"--max-pictures", "0"}, Receipts(501), 501, ""},
        {"--max-output-bytes",
         {"--max-output-bytes", "65536"},
         ModeChanges(20000) + Receipts(1),
         0,
         "more than 65,536 bytes written; the rest is not decoded, and no receipt drawn"},
        {"--max-write-seconds",
         {"--max-write-seconds", "0.001"},
         std::string(4u << 20, '\0'),
         0,
         "more than 0.001 s of writing; the rest is not decoded, and no receipt drawn"},
    };
    for (const Case& c : cases) {
        const std::string run = Path(std::string("run-") + std::to_string(&c - cases.data()));
        fs::create_directories(run);
        std::vector<std::string> args = {"serve", "--listen", "127.0.0.1:0", "--jobs", run + "/jobs", "--json"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        ChildOptions o = Streams(Stream::Pipe);
        o.pipedInput = true;
        CliChild server(args, run, o);
        std::string line;
        ASSERT_TRUE(server.WaitForError("listening on 127.0.0.1:", &line)) << c.name << ": " << server.Err();
        const uint16_t port = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
        {
            PeerSocket client("127.0.0.1", port);
            ASSERT_TRUE(client.ok()) << c.name;
            ASSERT_TRUE(client.send(Bytes(c.stream.begin(), c.stream.end()))) << c.name;
        }
        ASSERT_TRUE(server.WaitForOutput("\"number\":1,")) << c.name << ": " << server.Err();
        ASSERT_TRUE(server.Write("quit\n"));
        EXPECT_EQ(server.Code(), 0) << c.name << ": " << server.Err();
        const JobFolder job{fs::path(run) / "jobs" / "000001"};
        EXPECT_EQ(job.Receipts().size(), c.receipts) << c.name;
        const QJsonObject record = job.Record();
        EXPECT_EQ(Number(record, "receipts"), static_cast<int64_t>(c.receipts)) << c.name;
        EXPECT_EQ(Text(record, "cut_short"), c.cutShort) << c.name;
        EXPECT_EQ(Text(record, "ended"), "closed") << c.name;
    }
}

TEST_F(ServeBoundsTest, ValuesOutOfTheirRangeEndItWithStatusThree) {
    const std::vector<std::vector<std::string>> cases = {
        {"--max-pictures", "many"},      {"--max-pictures", "-1"},      {"--max-pictures", "1000001"},
        {"--max-output-bytes", "65535"}, {"--max-output-bytes", "1e9"}, {"--max-write-seconds", "-2"},
        {"--max-write-seconds", "soon"},
    };
    for (const std::vector<std::string>& c : cases) {
        std::vector<std::string> args = {"serve", "--listen", "127.0.0.1:0", "--no-save"};
        args.insert(args.end(), c.begin(), c.end());
        CliChild child(args, Folder());
        EXPECT_EQ(child.Code(), 3) << c[0] << " " << c[1] << ": " << child.Err();
        EXPECT_NE(child.Err().find(c[0] + ": \"" + c[1] + "\""), std::string::npos) << child.Err();
    }
}

}  // namespace
}  // namespace pellory::test
