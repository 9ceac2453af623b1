// The window's virtual printer as a printer server (pellory --virtual-printer=tcp:HOST:PORT), over
// real sockets: what clients print appears in the "Virtual Printer" window's job list, newest
// first, with its source and byte count, and selecting a job shows its paper; the status boxes set
// the server's states, which a DLE EOT request over the socket reads, and follow what hosts
// change; the list keeps the newest jobs within its bounds; the COM number reaches the server;
// an address in use leaves the window without it.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/pellory_app.h"
#include "app/virtual_printer_window.h"
#include "app/window_server.h"
#include "link/port_settings.h"
#include "pages/core/quick_test_actions.h"
#include "platform/port_map.h"
#include "receipt/interpreter.h"
#include "support/child_process.h"
#include "support/scratch_folder.h"
#include "support/server_clients.h"
#include "support/support.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

using test::HexBytes;
using widgets::testing::ProcessEventsUntil;

constexpr int kWaitMs = 20000;  // a watchdog only

// The client's own address as the server names it: "tcp:127.0.0.1:50122".
std::string SourceOf(const test::PeerSocket& client) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(client.fd(), reinterpret_cast<sockaddr*>(&a), &len) != 0) return "?";
    return "tcp:127.0.0.1:" + std::to_string(ntohs(a.sin_port));
}

// A printer server on 127.0.0.1 (a port the system picks) with the window over it.
struct ServedWindow {
    explicit ServedWindow(WindowServer::Limits limits = {})
        : server(std::make_unique<WindowServer>(vprinter::ListenAddress{"127.0.0.1", 0}, vprinter::Model::Orva58,
                                                limits)) {
        started = server->Start("pellory", messages);
        if (started) window = std::make_unique<VirtualPrinterWindow>(*server);
    }
    uint16_t port() const { return server->BoundAddress().port; }
    std::unique_ptr<test::PeerSocket> connect() const {
        return std::make_unique<test::PeerSocket>("127.0.0.1", port());
    }
    // Prints bytes as one job (connect, send, close) and waits until the window lists it; the
    // job's source.
    std::string print(const test::Bytes& bytes) {
        const int rows = window->jobList()->topLevelItemCount();
        auto client = connect();
        EXPECT_TRUE(client->ok());
        EXPECT_TRUE(client->send(bytes));
        const std::string source = SourceOf(*client);
        client->close();
        EXPECT_TRUE(ProcessEventsUntil([&] { return window->jobList()->topLevelItemCount() > rows; }, kWaitMs));
        return source;
    }
    QString cell(int row, int column) const { return window->jobList()->topLevelItem(row)->text(column); }
    vprinter::States states() const { return server->Server().states(); }

    std::ostringstream messages;
    std::unique_ptr<WindowServer> server;
    bool started = false;
    std::unique_ptr<VirtualPrinterWindow> window;
};

// The ink of a stream drawn by itself, at the window's width.
size_t InkOf(const test::Bytes& bytes) {
    receipt::Interpreter alone(receipt::kOrva58Dots);
    alone.feed(bytes);
    return alone.paper().inkDots();
}

const test::Bytes kReceipt =
    HexBytes("1B 40 1B 21 30 54 4F 54 41 4C 20 35 2E 30 30 0A 1D 56 01");  // ESC @, ESC ! 30, text, GS V 1
const test::Bytes kSmallText = HexBytes("68 69 0A");                       // "hi"
// A raster image GS v 0, 2 bytes x 16 rows, all black, then a line feed.
const test::Bytes kRaster = [] {
    test::Bytes b = HexBytes("1D 76 30 00 02 00 10 00");
    b.insert(b.end(), 32, 0xFF);
    b.push_back(0x0A);
    return b;
}();

TEST(WindowServer, JobsAreListedNewestFirstWithSourceTimeAndBytesAndShowTheirPaper) {
    ServedWindow w;
    ASSERT_TRUE(w.started) << w.messages.str();
    ASSERT_EQ(w.window->jobList()->topLevelItemCount(), 1);
    EXPECT_EQ(w.cell(0, VirtualPrinterWindow::kSourceColumn), QString::fromLatin1(kLivePaperRow));

    const std::vector<test::Bytes> streams = {kReceipt, kSmallText, kRaster};
    std::vector<std::string> sources;
    for (const test::Bytes& s : streams) sources.push_back(w.print(s));
    ASSERT_EQ(w.window->jobList()->topLevelItemCount(), 1 + static_cast<int>(streams.size()));

    for (size_t i = 0; i < streams.size(); ++i) {
        SCOPED_TRACE(i);
        const int row = static_cast<int>(streams.size() - i);  // newest first, under the live row
        EXPECT_EQ(w.cell(row, VirtualPrinterWindow::kSourceColumn).toStdString(), sources[i]);
        EXPECT_EQ(w.cell(row, VirtualPrinterWindow::kBytesColumn), QString::number(streams[i].size()));
        EXPECT_EQ(w.cell(row, VirtualPrinterWindow::kTimeColumn).size(), 8);  // HH:mm:ss
        w.window->jobList()->setCurrentItem(w.window->jobList()->topLevelItem(row));
        EXPECT_EQ(w.window->shownJob(), i + 1);
        EXPECT_GT(w.window->shownPaper().inkDots(), 0u);
        EXPECT_EQ(w.window->shownPaper().inkDots(), InkOf(streams[i]));  // that job's paper, drawn alone
    }
    // Back to the live paper, which holds every job as printed.
    w.window->jobList()->setCurrentItem(w.window->jobList()->topLevelItem(0));
    EXPECT_EQ(w.window->shownJob(), 0u);
    EXPECT_TRUE(ProcessEventsUntil(
        [&] { return w.window->interpreter().bytesFed() == kReceipt.size() + kSmallText.size() + kRaster.size(); },
        kWaitMs));
    EXPECT_EQ(&w.window->shownPaper(), &w.window->interpreter().paper());
}

TEST(WindowServer, TheShownJobStaysSelectedWhenNewJobsArrive) {
    ServedWindow w;
    ASSERT_TRUE(w.started) << w.messages.str();
    w.print(kRaster);
    w.window->jobList()->setCurrentItem(w.window->jobList()->topLevelItem(1));
    ASSERT_EQ(w.window->shownJob(), 1u);
    w.print(kSmallText);
    EXPECT_EQ(w.window->shownJob(), 1u);
    EXPECT_EQ(w.window->jobList()->currentItem(), w.window->jobList()->topLevelItem(2));
    EXPECT_EQ(w.window->shownPaper().inkDots(), InkOf(kRaster));
}

// Each box, checked (or "Online" unchecked), is the state that the DLE EOT request reads over the
// socket, in the reply's layout: bits 1 and 4 always on.
TEST(WindowServer, EachBoxSetsTheStateThatADleEotRequestReads) {
    const struct {
        const char* box;
        vprinter::StateBit state;
        uint8_t n;  // DLE EOT n
        uint8_t reply;
    } cases[] = {
        {"Online", vprinter::kOffline, 1, 0x1A},
        {"Online", vprinter::kOffline, 5, 0x40},
        {"Platen Open", vprinter::kCoverOpen, 2, 0x16},
        {"Platen Open", vprinter::kCoverOpen, 5, 0x02},
        {"Paper Error", vprinter::kPaperEnd, 4, 0x72},
        {"Paper Error", vprinter::kPaperEnd, 5, 0x04},
        {"Over Heat", vprinter::kOverheat, 3, 0x52},
        {"Over Voltage", vprinter::kError, 3, 0x32},
        {"Cutter Error", vprinter::kCutterError, 3, 0x1A},
        {"Cutter Error", vprinter::kCutterError, 5, 0x20},
        {"Paper Near End", vprinter::kPaperNearEnd, 4, 0x1E},
        {"Drawer Open", vprinter::kDrawerOpen, 1, 0x16},
    };
    ServedWindow w;
    ASSERT_TRUE(w.started) << w.messages.str();
    auto client = w.connect();
    ASSERT_TRUE(client->ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.box) + " DLE EOT " + std::to_string(c.n));
        QCheckBox* box = w.window->statusBox(c.box);
        ASSERT_NE(box, nullptr);
        const bool online = std::string(c.box) == "Online";
        box->setChecked(!online);
        EXPECT_EQ(w.states(), c.state);
        ASSERT_TRUE(client->send({0x10, 0x04, c.n}));
        EXPECT_EQ(test::HexText(client->read(1)), test::HexText({c.reply}));
        box->setChecked(online);
        EXPECT_EQ(w.states(), 0);
    }
    // Ready: every reply with its fixed bits only; silent: none at all.
    ASSERT_TRUE(client->send(HexBytes("10 04 01 10 04 05")));
    EXPECT_EQ(test::HexText(client->read(2)), "12 00");
    w.window->silentBox()->setChecked(true);
    EXPECT_EQ(w.states(), vprinter::kSilent);
    ASSERT_TRUE(client->send(HexBytes("10 04 01")));
    EXPECT_TRUE(client->readQuiet(300).empty());
}

// What a host changes in the shared state shows in the boxes: a drawer pulse opens the drawer,
// DLE ENQ 1 recovers from the cutter error.
TEST(WindowServer, TheBoxesFollowWhatHostsChange) {
    const struct {
        const char* box;
        bool checkedBefore;
        const char* bytes;
        bool checkedAfter;
    } cases[] = {
        {"Drawer Open", false, "1B 70 00 19 FA", true},
        {"Cutter Error", true, "10 05 01", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        ServedWindow w;
        ASSERT_TRUE(w.started) << w.messages.str();
        QCheckBox* box = w.window->statusBox(c.box);
        ASSERT_NE(box, nullptr);
        box->setChecked(c.checkedBefore);
        auto client = w.connect();
        ASSERT_TRUE(client->send(HexBytes(c.bytes)));
        EXPECT_TRUE(ProcessEventsUntil([&] { return box->isChecked() == c.checkedAfter; }, kWaitMs));
        // Shown, not set again: unchecking sets the state back.
        box->setChecked(c.checkedBefore);
        EXPECT_EQ(w.states() != 0, c.checkedBefore);
    }
}

TEST(WindowServer, TheListKeepsTheNewestJobsWithinItsBounds) {
    const struct {
        WindowServer::Limits limits;
        std::vector<size_t> sizes;   // of the jobs, in the order sent
        std::vector<uint64_t> kept;  // their numbers, newest first
    } cases[] = {
        {{3, 1u << 20}, {4, 4, 4, 4, 4}, {5, 4, 3}},
        {{10, 25}, {10, 10, 10}, {3, 2}},
        {{10, 5}, {10, 10}, {2}},  // the newest stays whatever its size
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limits.jobs);
        ServedWindow w(c.limits);
        ASSERT_TRUE(w.started) << w.messages.str();
        for (size_t size : c.sizes) {
            const uint64_t before = w.server->JobsTaken();
            auto client = w.connect();
            ASSERT_TRUE(client->send(test::Bytes(size, 'x')));
            client->close();
            ASSERT_TRUE(test::WaitUntil([&] { return w.server->JobsTaken() > before; }, kWaitMs));
        }
        std::vector<uint64_t> numbers;
        for (const auto& job : w.server->Jobs()) numbers.push_back(job->number);
        EXPECT_EQ(numbers, c.kept);
        w.window->takeJobs();
        EXPECT_EQ(w.window->jobList()->topLevelItemCount(), 1 + static_cast<int>(c.kept.size()));
    }
}

// The pages' COM number leads to the server: its port map entry, and the "Printer States" query
// of "Printer Test" there reads what the boxes set.
TEST(WindowServer, ItsComNumberReachesTheServerForThePrinterTestQuery) {
    const struct {
        const char* box;
        uint8_t status;
    } cases[] = {{"Over Heat", 0x08},   {"Over Voltage", 0x01}, {"Paper Error", 0x04},
                 {"Platen Open", 0x02}, {"Cutter Error", 0x20}, {"Online", 0x40}};
    ServedWindow w;
    ASSERT_TRUE(w.started) << w.messages.str();
    const int number = w.server->PortNumber();
    const std::string path = "tcp://127.0.0.1:" + std::to_string(w.port());
    const std::optional<platform::PortEntry> entry = platform::PortMap::instance().resolve(number);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->path, path);
    EXPECT_EQ(w.messages.str(), "Pellory: virtual printer on COM" + std::to_string(number) + " (" + path +
                                    "), a printer server on 127.0.0.1:" + std::to_string(w.port()) + "\n");
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
    link::PortSettings.portNumber = number;
    {
        pages::QuickTestActions page;
        page.SetPrompt(&prompt);
        page.SetMainWindow(&history);
        EXPECT_EQ(page.QueryStatus().status, 0x00);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.box);
            QCheckBox* box = w.window->statusBox(c.box);
            const bool online = std::string(c.box) == "Online";
            box->setChecked(!online);
            const pages::StatusResult r = page.QueryStatus();
            EXPECT_TRUE(r.linkOpen);
            EXPECT_EQ(r.status, c.status);
            box->setChecked(online);
        }
        EXPECT_TRUE(prompt.messages.empty()) << prompt.Texts().front();
        page.Close(link::kLinkStopTimeoutMs);
    }
    // Gone with the server: the number maps to it no more.
    w.window.reset();
    w.server.reset();
    const std::optional<platform::PortEntry> after = platform::PortMap::instance().resolve(number);
    EXPECT_TRUE(!after || after->path != path);
}

TEST(WindowServer, PortPathsAndTheWarningForAddressesOthersReach) {
    const struct {
        vprinter::ListenAddress bound;
        const char* path;
    } paths[] = {
        {{"", 9100}, "tcp://127.0.0.1:9100"},
        {{"0.0.0.0", 9100}, "tcp://127.0.0.1:9100"},
        {{"::", 9100}, "tcp://[::1]:9100"},
        {{"::1", 9101}, "tcp://[::1]:9101"},
        {{"192.0.2.7", 9100}, "tcp://192.0.2.7:9100"},
        {{"printer.local", 9}, "tcp://printer.local:9"},
    };
    for (const auto& p : paths) EXPECT_EQ(PortPathOf(p.bound), p.path) << p.bound.host;

    const struct {
        const char* host;
        bool warned;
    } warnings[] = {{"127.0.0.1", false}, {"0.0.0.0", true}, {"", true}};
    for (const auto& c : warnings) {
        SCOPED_TRACE(c.host);
        std::ostringstream err;
        WindowServer server(vprinter::ListenAddress{c.host, 0}, vprinter::Model::Orva80);
        ASSERT_TRUE(server.Start("pellory", err)) << err.str();
        const std::string text = err.str();
        EXPECT_EQ(text.find("pellory: warning: ") != std::string::npos, c.warned) << text;
        if (c.warned) {
            EXPECT_NE(text.find("anyone who can reach it can print and read the printer's status"), std::string::npos);
        }
    }
}

TEST(WindowServer, StartOptionsTakeTheListenAddress) {
    const struct {
        const char* arg;
        const char* host;
        uint16_t port;
    } good[] = {{"--virtual-printer=tcp:127.0.0.1:9100", "127.0.0.1", 9100},
                {"--virtual-printer=tcp::9100", "", 9100},
                {"--virtual-printer=tcp:[::1]:0", "::1", 0}};
    for (const auto& c : good) {
        SCOPED_TRACE(c.arg);
        StartOptions o;
        std::string error;
        ASSERT_TRUE(ParseStartOptions({c.arg}, o, &error)) << error;
        EXPECT_TRUE(o.virtualPrinter);
        EXPECT_FALSE(o.virtualPrinterOnNetwork);
        ASSERT_TRUE(o.virtualPrinterListen);
        EXPECT_EQ(o.virtualPrinterListen->host, c.host);
        EXPECT_EQ(o.virtualPrinterListen->port, c.port);
    }
    for (const char* plain : {"--virtual-printer", "--virtual-printer=tcp", "--virtual-printer=pty"}) {
        StartOptions o;
        ASSERT_TRUE(ParseStartOptions({plain}, o));
        EXPECT_FALSE(o.virtualPrinterListen) << plain;
    }
    for (const char* bad :
         {"--virtual-printer=tcp:9100", "--virtual-printer=tcp:host:99999", "--virtual-printer=tcp:"}) {
        StartOptions o;
        std::string error;
        EXPECT_FALSE(ParseStartOptions({bad}, o, &error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
    }
}

// The program itself, with its address in use: it says why on standard error, the window starts
// all the same (it closes on SIGTERM, as a started window does) and ends with status 0.
TEST(WindowServer, AnAddressInUseLeavesTheWindowWithoutIt) {
    test::ServedPrinter holder;  // holds a port
    ASSERT_TRUE(holder.started) << holder.error;
    const std::string address = "127.0.0.1:" + std::to_string(holder.port());
    const test::ScratchFolder folder("pellory_window_server");
    test::ChildProcess child(PELLORY_WINDOW_PATH, {"-platform", "offscreen", "--virtual-printer=tcp:" + address},
                             folder.Path(""));
    ASSERT_TRUE(child.Started());
    // The window's signal handler is in place once the window runs.
    ASSERT_TRUE(child.WaitUntilTermCaught());
    child.Signal(SIGTERM);
    const int status = child.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::ifstream err(folder.Path("err.txt"));
    const std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("pellory: the virtual printer cannot start: " + address + ": Address already in use"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("the window starts without it"), std::string::npos) << text;
}

}  // namespace
}  // namespace pellory::app
