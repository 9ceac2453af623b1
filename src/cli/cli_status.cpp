// "pellory-cli status": the status query of "Printer Test" (DLE EOT 5: the status byte and the
// lamps it lights), the same bytes and history rows as the window's "Printer States"; with
// --states, then the standard real-time status requests DLE EOT 1 to 4, read as the printer
// server's states.
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "protocol/hex.h"
#include "vprinter/printer_answers.h"
#include "vprinter/printer_state.h"

namespace pellory::app::cli {

namespace {

std::string LitLamps(const pages::LampStates& lamps) {
    std::string lit;
    for (size_t i = 0; i < pages::kLampCount; ++i) {
        if (!lamps[i]) continue;
        if (!lit.empty()) lit += ", ";
        lit += pages::kLamps[i].name;
    }
    return lit.empty() ? "none" : lit;
}

// states: whether DLE EOT 1 to 4 follow the query (--states).
int ReadStatus(Session& s, bool states) {
    pages::QuickTestActions page;
    s.Attach(page);
    page.StartEcho();
    const pages::StatusResult r = page.QueryStatus();
    if (!r.linkOpen) return s.Finish(page, s.LinkFailure());
    if (r.noStatus) return s.Finish(page, kCliNoAnswer);
    // The printer answered the probe but not the query: no status to show.
    if (r.status == link::kNoAnswerByte) {
        if (!Session::Stopping()) s.err << link::kNoAnswerText << '\n';
        return s.Finish(page, kCliNoAnswer);
    }
    s.out << "Status: " << protocol::hex::Byte(r.status) << '\n';
    s.out << "Lamps: " << LitLamps(r.lamps) << '\n';
    if (!states) return s.Finish(page, kCliDone);
    // What Pellory's own byte has no bit for (a paper near its end, an open drawer), and an
    // offline printer named as such, come from the standard requests, where the printer answers them.
    const std::vector<uint8_t> answers = page.QueryRealTimeStatus();
    if (!page.IsOpen()) return s.Finish(page, s.LinkFailure());
    // A stop of the program cuts them short: no verdict on part of them.
    if (!answers.empty() && !Session::Stopping()) {
        s.out << "States: " << vprinter::StatesText(vprinter::StatesOfRealTimeStatus(answers), ", ") << '\n';
    }
    return s.Finish(page, kCliDone);
}

}  // namespace

Command StatusCommand() {
    return {"status",
            "status [--states]",
            "The status query of \"Printer States\".",
            "Prints the status byte in hex (\"Status: 0C\") and the lit lamps\n"
            "(\"Lamps: Over Heat, Paper Error\", or \"Lamps: none\"). Exits with 1 when the\n"
            "printer answered the connection probe but not the status query.\n"
            "--states: then asks the standard real-time status requests DLE EOT 1 to 4 and\n"
            "prints the states they tell, named as serve names them (\"States: paper-near-end,\n"
            "drawer-open\", or \"States: ready\"); no such line when the printer answers none\n"
            "of them.\n",
            {{}, {"--states"}},
            [](const ParsedArgs& a, std::string& error) -> std::optional<Action> {
                if (!PositionalCount(a, 0, "", error)) return std::nullopt;
                return Action([states = a.Flag("--states")](Session& s) { return ReadStatus(s, states); });
            }};
}

}  // namespace pellory::app::cli
