// The window's virtual printer as a printer server (pellory --virtual-printer=tcp:HOST:PORT):
// a printer station (cli/printer_station.h) listening on one address, without a jobs folder or web
// page, so that other software on the network prints to it, with a COM number of the port map
// that reaches it (tcp://HOST:PORT), so that the window's own pages print to it too. Its station
// keeps the newest jobs it received for the "Virtual Printer" window's list, and it passes what it
// prints to the window's paper. No widgets.
//
// Threads: the server's loop thread hands each job to the station and calls the print observer;
// the station's recorder counts each job on its writer threads; the window thread reads the jobs
// and sets the states. Bounded: at most Limits::jobs jobs and Limits::bytes of their bytes are
// kept (the oldest go first); each job's bytes are at most the server's maxJobBytes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/listed_job.h"
#include "cli/printer_station.h"
#include "link/open_and_probe.h"
#include "platform/thread_annotations.h"
#include "vprinter/printer_server.h"

namespace pellory::app {

// A job the window lists: what the server received on one connection, its bytes kept in memory
// (ListedJob::kept).
using cli::ListedJob;

// What a client connecting to the listen address uses: the loopback address for "every address"
// (":9100" and "0.0.0.0:9100" give "tcp://127.0.0.1:9100", "[::]:9100" gives "tcp://[::1]:9100"),
// else the address itself.
std::string PortPathOf(const vprinter::ListenAddress& bound);

class WindowServer {
public:
    struct Limits {
        size_t jobs = 200;                // jobs kept for the list, newest first
        size_t bytes = size_t{64} << 20;  // of their bytes in all
    };
    // Called on the server's thread with the bytes it prints, in order (the live paper). May wait
    // in bounded steps that watch stopping().
    using PrintObserver = std::function<void(const uint8_t* bytes, size_t n)>;

    WindowServer(vprinter::ListenAddress address, vprinter::Model model, Limits limits);
    WindowServer(vprinter::ListenAddress address, vprinter::Model model) : WindowServer(address, model, Limits{}) {}
    ~WindowServer();  // gives the COM number back, then stops the server
    WindowServer(const WindowServer&) = delete;
    WindowServer& operator=(const WindowServer&) = delete;

    // Starts listening and maps the lowest free COM number to it, with the lines
    // "Pellory: virtual printer on COM1 (tcp://127.0.0.1:9100), a printer server on 0.0.0.0:9100"
    // and, for an address other machines reach, a warning, on err. False, with
    // "<program>: the virtual printer cannot start: 127.0.0.1:9100: Address already in use" (and
    // that the window starts without it) on err, when it cannot listen or no COM number is free;
    // nothing is left open then.
    bool Start(std::string_view program, std::ostream& err);

    vprinter::PrinterServer& Server() { return station_.server(); }
    bool Stopping() const { return station_.server().stopping(); }
    int PortNumber() const { return number_; }
    const std::string& PortPath() const { return path_; }
    vprinter::ListenAddress BoundAddress() const;

    // Another observer, or none; waits for a call in progress.
    void SetPrintObserver(PrintObserver observer);

    // The jobs kept, newest first, and a count that grows with every job taken (to see a change).
    std::vector<std::shared_ptr<const ListedJob>> Jobs() const;
    uint64_t JobsTaken() const;

private:
    void print(const uint8_t* bytes, size_t n);

    // The server, a recorder without a folder (jobs counted, none saved) and the kept jobs.
    cli::PrinterStation station_;
    std::string path_;
    int number_ = 0;
    std::optional<link::ReplyWaitHook> previousWait_;

    platform::Mutex observerMutex_;  // held while the observer runs
    PrintObserver observer_ GUARDED_BY(observerMutex_);
};

}  // namespace pellory::app
