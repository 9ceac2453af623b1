#include "app/cli_support.h"

namespace pellory::app::cli {

bool ParseArgs(const std::vector<std::string>& args, const ArgRules& rules, ParsedArgs& out, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded) {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            out.help = true;
            continue;
        }
        if (a.size() <= 2 || a.compare(0, 2, "--") != 0) {
            out.positional.push_back(a);
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const bool valued = std::find(rules.valued.begin(), rules.valued.end(), name) != rules.valued.end();
        const bool flag = std::find(rules.flags.begin(), rules.flags.end(), name) != rules.flags.end();
        if (valued) {
            if (eq != std::string::npos) {
                out.values[name] = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                out.values[name] = args[++i];
            } else {
                error = name + " needs a value";
                return false;
            }
        } else if (flag && eq == std::string::npos) {
            out.flags.insert(name);
        } else if (flag) {
            error = name + " takes no value";
            return false;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

bool PositionalCount(const ParsedArgs& a, size_t n, const char* what, std::string& error) {
    if (a.positional.size() == n) return true;
    if (a.positional.size() < n) {
        error = std::string("missing ") + what;
    } else {
        error = "unexpected argument " + a.positional[n];
    }
    return false;
}

}  // namespace pellory::app::cli
