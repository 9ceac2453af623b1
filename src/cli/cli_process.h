// What pellory-cli's main does around a run: standard streams that cannot be mistaken for the
// port, and the signals that end a command.
#pragma once

#include <thread>

namespace pellory::app::cli {

// A closed standard descriptor (0, 1 or 2) is opened on /dev/null the wrong way round (output
// read-only), before anything else opens a file: the port can then never take descriptor 1 and
// receive the program's output, and a write to a closed stdout still fails as it should.
void OccupyClosedStandardStreams();

// SIGINT, SIGTERM and SIGHUP become a stop request (platform::RequestStop with the signal's
// number) instead of ending the process where it stands: the command then stops sending,
// closes its port as always (exclusive mode off, lock released, line settings put back) and
// exits with 128 plus the number. The signals are blocked in the constructing thread, so
// construct it first in main, before any other thread exists: every later thread inherits the
// mask, and one watcher thread takes them with sigwait (no signal handler runs at all).
// SIGPIPE is ignored, so that a closed pipe on stdout is a write error, not an abrupt end.
// On Windows (cli_process_win.cpp) a console control handler stands for the signals: Ctrl-C and
// Ctrl-Break stop as SIGINT does (130), closing the console, logging off and shutting down as
// SIGHUP does (129), the handler holding the process (at most some 4.5 s, Windows' bound) until
// the command has finished; no thread is started.
class SignalWatch {
public:
    SignalWatch();
    ~SignalWatch();  // ends the watcher and joins it
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    std::thread watcher_;
};

}  // namespace pellory::app::cli
