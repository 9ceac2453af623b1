// pellory-cli: the command-line front end. It builds the same page objects the window builds (the
// actions classes of src/pages/core and src/imaging) without their widgets and calls the same
// methods, so one command sends exactly the bytes, and adds exactly the history rows, that the
// same action in the window does, the connection probe included.
//
//   pellory-cli [options] COMMAND [ARGS]
//
// Messages the window shows in a box go to the error stream unchanged (the text, then the
// informative text on a line of its own); file dialogs are answered with the path given on the
// command line. Before it returns, the command lets every queued byte leave the port and closes
// the link as a tab change does.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pellory::app {

inline constexpr const char* kCliProgram = "pellory-cli";

// Exit statuses.
enum CliExit : int {
    kCliDone = 0,
    kCliNoAnswer = 1,        // the printer did not answer (or took no data)
    kCliOpenFailed = 2,      // the port could not be opened, or its device went away while in use
    kCliRefused = 3,         // bad arguments, or data refused with the window's message
    kCliFileUnreadable = 4,  // a file could not be read (or the history file not written)
    kCliOutputFailed = 5,    // the standard output or error could not be written
    // Stopped by a signal: 128 plus its number (129 SIGHUP, 130 SIGINT, 143 SIGTERM).
    kCliStoppedBase = 128,
};

// The whole front end: args without the program name. Writes the command's output (and the
// echo rows of --echo) to out, messages and errors to err; returns the exit status.
// Runs on the calling thread. A stop requested through platform::RequestStop(signal) (the
// program's signal watch does it) ends the command early: nothing more is sent, the port is
// closed as always, and the status is kCliStoppedBase + signal. PortSettings, PrintableWidth, the ready flag and the port map are
// as they were when it returns (so that it can run in-process, one call after another).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Reads the arguments exactly as RunCli does, without opening a port or reading a file: the
// status RunCli returns for arguments it refuses (with the same message in err) or answers with a
// usage text (in out); kCliDone for arguments that RunCli would go on to run.
int CheckCliArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text of --help.
std::string CliUsage();
// The usage text of "COMMAND --help"; nothing for an unknown command.
std::optional<std::string> CliCommandUsage(std::string_view command);
// The command names, in the order of the usage text.
std::vector<std::string> CliCommands();

}  // namespace pellory::app
