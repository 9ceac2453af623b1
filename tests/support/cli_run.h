// Runs pellory-cli inside the test process (app::RunCli) and keeps what it wrote, for the tests of
// the command line. Only tests that link the command-line library include it.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace pellory::test {

struct CliRun {
    int code = -1;
    std::string out, err;

    // The hex text of every --echo line (up to its tab): what was sent, row by row.
    std::vector<std::string> Echoed() const { return Lines(true); }
    // The lines of standard output that are not echo lines.
    std::vector<std::string> Output() const { return Lines(false); }

private:
    std::vector<std::string> Lines(bool echo) const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            const size_t tab = line.find('\t');
            if (echo && tab != std::string::npos) lines.push_back(line.substr(0, tab));
            if (!echo && tab == std::string::npos) lines.push_back(line);
        }
        return lines;
    }
};

inline CliRun RunCliInProcess(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    CliRun r;
    r.code = app::RunCli(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

}  // namespace pellory::test
