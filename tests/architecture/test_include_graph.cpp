// The map of the source tree cannot go stale: every `#include "..."` line of src/ is held against
// the module graph in module_graph.txt (who may include whom), every folder of src/ must be a
// module of it, and the module table of docs/ARCHITECTURE.md must say what the graph says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace pellory::architecture {
namespace {

namespace fs = std::filesystem;

struct Graph {
    std::map<std::string, std::set<std::string>> uses;      // module -> the modules it may include
    std::set<std::string> generated;                        // headers of the build, open to every module
    std::set<std::pair<std::string, std::string>> allowed;  // (file, include) waiting for a move
};

struct SourceFile {
    std::string path;  // "src/link/serial_engine.cpp"
    std::string text;
};

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// Reads module_graph.txt; what it cannot read goes to faults.
Graph ParseGraph(const std::string& text, std::vector<std::string>& faults) {
    Graph graph;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::vector<std::string> words = Words(line.substr(0, line.find('#')));
        if (words.empty()) continue;
        if (words[0] == "allow" && words.size() == 3) {
            graph.allowed.insert({words[1], words[2]});
        } else if (words[0] == "generated:") {
            graph.generated.insert(words.begin() + 1, words.end());
        } else if (words[0].size() > 1 && words[0].back() == ':') {
            const std::string module = words[0].substr(0, words[0].size() - 1);
            if (graph.uses.count(module))
                faults.push_back("graph line " + std::to_string(number) + ": " + module + " twice");
            graph.uses[module].insert(words.begin() + 1, words.end());
        } else {
            faults.push_back("graph line " + std::to_string(number) + " is not understood: " + line);
        }
    }
    for (const auto& [module, uses] : graph.uses) {
        for (const std::string& used : uses) {
            if (!graph.uses.count(used))
                faults.push_back("graph: " + module + " uses " + used + ", which is no module");
        }
    }
    return graph;
}

// The module a path inside src/ belongs to ("pages/core/samples.h" -> "pages/core"): the longest
// module of the graph that is a folder at the start of the path. Empty when there is none.
std::string ModuleOf(const Graph& graph, const std::string& path) {
    std::string best;
    for (const auto& [module, uses] : graph.uses) {
        if (path.size() > module.size() && path.compare(0, module.size(), module) == 0 && path[module.size()] == '/' &&
            module.size() > best.size()) {
            best = module;
        }
    }
    return best;
}

// Every fault of the files against the graph, one line each.
std::vector<std::string> CheckIncludes(const Graph& graph, const std::vector<SourceFile>& files) {
    std::vector<std::string> faults;
    std::set<std::pair<std::string, std::string>> allowedUsed;
    std::set<std::string> unknownFolders;
    const std::regex include(R"re(^\s*#\s*include\s*"([^"]*)")re");
    for (const SourceFile& file : files) {
        const std::string inSrc = file.path.substr(4);  // without "src/"
        const std::string module = ModuleOf(graph, inSrc);
        if (module.empty()) {
            const std::string folder = inSrc.substr(0, inSrc.find('/'));
            if (unknownFolders.insert(folder).second) {
                faults.push_back("src/" + folder + "/ is no module of the graph (tests/architecture/module_graph.txt)");
            }
            continue;
        }
        std::istringstream in(file.text);
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            std::smatch m;
            if (!std::regex_search(line, m, include)) continue;
            const std::string header = m[1];
            const std::string where = file.path + ":" + std::to_string(number) + ": ";
            if (graph.allowed.count({file.path, header})) {
                allowedUsed.insert({file.path, header});
                continue;
            }
            if (header.find('/') == std::string::npos) {
                if (!graph.generated.count(header)) {
                    faults.push_back(where + "\"" + header + "\" names no module (write \"module/" + header + "\")");
                }
                continue;
            }
            const std::string target = ModuleOf(graph, header);
            if (target.empty()) {
                faults.push_back(where + "\"" + header + "\" is in no module of the graph");
            } else if (target != module && !graph.uses.at(module).count(target)) {
                faults.push_back(where + module + " may not include " + target + " (\"" + header + "\")");
            }
        }
    }
    for (const auto& entry : graph.allowed) {
        if (!allowedUsed.count(entry)) {
            faults.push_back("allow " + entry.first + " " + entry.second +
                             ": no such include any more; remove the entry");
        }
    }
    return faults;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<SourceFile> SourceTree() {
    std::vector<SourceFile> files;
    const fs::path root = fs::path(PELLORY_SOURCE_DIR) / "src";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const std::string ext = entry.path().extension().string();
        if (ext != ".h" && ext != ".cpp") continue;
        files.push_back({"src/" + fs::relative(entry.path(), root).generic_string(), ReadFile(entry.path())});
    }
    std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    return files;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

Graph TheGraph() {
    std::vector<std::string> faults;
    Graph graph = ParseGraph(ReadFile(fs::path(PELLORY_SOURCE_DIR) / "tests/architecture/module_graph.txt"), faults);
    EXPECT_TRUE(faults.empty()) << Lines(faults);
    return graph;
}

TEST(IncludeGraph, EveryIncludeOfTheSourceTreeIsInTheGraph) {
    const Graph graph = TheGraph();
    ASSERT_GE(graph.uses.size(), 12u);
    const std::vector<SourceFile> files = SourceTree();
    ASSERT_GE(files.size(), 100u);
    const std::vector<std::string> faults = CheckIncludes(graph, files);
    EXPECT_TRUE(faults.empty()) << Lines(faults);
}

TEST(IncludeGraph, TheGraphHasNoCycle) {
    const Graph graph = TheGraph();
    // Depth-first, every module once: a module met again while it is on the path closes a cycle.
    std::map<std::string, int> state;  // 1 on the path, 2 done
    std::vector<std::string> path;
    std::string cycle;
    std::function<void(const std::string&)> visit = [&](const std::string& m) {
        if (state[m] == 2 || !cycle.empty()) return;
        if (state[m] == 1) {
            for (auto it = std::find(path.begin(), path.end(), m); it != path.end(); ++it) cycle += *it + " -> ";
            cycle += m;
            return;
        }
        state[m] = 1;
        path.push_back(m);
        for (const std::string& used : graph.uses.at(m)) visit(used);
        path.pop_back();
        state[m] = 2;
    };
    for (const auto& [module, uses] : graph.uses) visit(module);
    EXPECT_EQ(cycle, "");
}

// A small graph and trees made for the faults the check must find, and the includes it must let
// through.
constexpr const char* kSmallGraph =
    "platform:\n"
    "protocol:\n"
    "link: platform protocol\n"
    "pages/core: link platform\n"
    "pages: pages/core\n"
    "generated: pellory_version.h\n"
    "allow src/link/wait.cpp pages/core/old.h\n";

struct PlantedCase {
    const char* name;
    std::vector<SourceFile> files;
    std::vector<std::string> faults;  // exactly these, in this order
};

TEST(IncludeGraph, FindsWhatTheGraphDoesNotHold) {
    const std::string wait = "src/link/wait.cpp";
    const std::vector<SourceFile> waitFile = {{wait, "#include \"pages/core/old.h\"\n"}};
    auto with = [&](std::vector<SourceFile> files) {
        files.insert(files.end(), waitFile.begin(), waitFile.end());
        return files;
    };
    const std::vector<PlantedCase> cases = {
        {"own module, lower modules, generated header and the allowed include",
         with({{"src/link/engine.cpp",
                "#include \"link/engine.h\"\n#include <vector>\n  #  include \"platform/device.h\"\n"
                "#include \"pellory_version.h\"\n"},
               {"src/pages/page.cpp", "#include \"pages/core/actions.h\"\n#include \"pages/page.h\"\n"},
               {"src/pages/core/actions.cpp", "#include \"link/engine.h\"\n"}}),
         {}},
        {"an upward include",
         with({{"src/link/engine.cpp", "// x\n#include \"pages/core/actions.h\"\n"}}),
         {"src/link/engine.cpp:2: link may not include pages/core (\"pages/core/actions.h\")"}},
        {"the widget part from the part without widgets",
         with({{"src/pages/core/actions.cpp", "#include \"pages/page.h\"\n"}}),
         {"src/pages/core/actions.cpp:1: pages/core may not include pages (\"pages/page.h\")"}},
        {"a module that uses no other",
         with({{"src/platform/device.h", "#include \"protocol/bytes.h\"\n"}}),
         {"src/platform/device.h:1: platform may not include protocol (\"protocol/bytes.h\")"}},
        {"a folder that is not in the graph",
         with({{"src/server/server.cpp", "#include \"link/engine.h\"\n"}}),
         {"src/server/ is no module of the graph (tests/architecture/module_graph.txt)"}},
        {"an include of a folder that is not in the graph",
         with({{"src/link/engine.cpp", "#include \"server/server.h\"\n"}}),
         {"src/link/engine.cpp:1: \"server/server.h\" is in no module of the graph"}},
        {"an include without its module",
         with({{"src/link/engine.cpp", "#include \"engine.h\"\n"}}),
         {"src/link/engine.cpp:1: \"engine.h\" names no module (write \"module/engine.h\")"}},
        {"an allowed include in another file",
         with({{"src/link/other.cpp", "#include \"pages/core/old.h\"\n"}}),
         {"src/link/other.cpp:1: link may not include pages/core (\"pages/core/old.h\")"}},
        {"an allowed include that is gone",
         {{"src/link/wait.cpp", "#include \"link/wait.h\"\n"}},
         {"allow src/link/wait.cpp pages/core/old.h: no such include any more; remove the entry"}},
    };
    std::vector<std::string> graphFaults;
    const Graph graph = ParseGraph(kSmallGraph, graphFaults);
    ASSERT_TRUE(graphFaults.empty()) << Lines(graphFaults);
    for (const PlantedCase& c : cases) {
        EXPECT_EQ(CheckIncludes(graph, c.files), c.faults) << c.name;
    }
}

TEST(IncludeGraph, GraphFileFaultsAreReported) {
    std::vector<std::string> faults;
    ParseGraph("link: platform\nlink: protocol\nplatform:\nnonsense line\n", faults);
    EXPECT_EQ(faults,
              (std::vector<std::string>{"graph line 2: link twice", "graph line 4 is not understood: nonsense line",
                                        "graph: link uses protocol, which is no module"}));
}

// The rows of the module table in docs/ARCHITECTURE.md: "| `link` | what it owns | `platform`, `protocol` |".
// Module -> the names in backquotes of the row's last cell ("nothing" there: none).
std::map<std::string, std::set<std::string>> ModuleTable(const std::string& doc) {
    std::map<std::string, std::set<std::string>> table;
    std::istringstream in(doc);
    const std::regex name("`([^`]+)`");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("| `", 0) != 0) continue;
        const size_t first = line.find('|', 1);
        const size_t last = line.rfind('|', line.size() - 2);
        if (first == std::string::npos || last == std::string::npos || last <= first) continue;
        std::smatch m;
        const std::string head = line.substr(0, first);
        if (!std::regex_search(head, m, name)) continue;
        std::string module = m[1];
        if (!module.empty() && module.back() == '/') module.pop_back();
        if (module.rfind("src/", 0) == 0) module = module.substr(4);
        std::set<std::string>& uses = table[module];
        const std::string cell = line.substr(last);
        for (auto it = std::sregex_iterator(cell.begin(), cell.end(), name); it != std::sregex_iterator(); ++it) {
            uses.insert((*it)[1]);
        }
    }
    return table;
}

TEST(IncludeGraph, TheArchitectureNoteShowsTheGraph) {
    const Graph graph = TheGraph();
    const std::string doc = ReadFile(fs::path(PELLORY_SOURCE_DIR) / "docs/ARCHITECTURE.md");
    ASSERT_FALSE(doc.empty());
    const auto table = ModuleTable(doc);
    EXPECT_EQ(table, graph.uses);
}

TEST(IncludeGraph, TheModuleTableIsReadAsWritten) {
    const auto table = ModuleTable(
        "| Module | Owns | May use |\n|---|---|---|\n"
        "| `src/link/` | the engine, `CSerialEngine` | `platform`, `protocol` |\n"
        "| `pages/core` | actions | `link` |\n"
        "| `platform` | devices | nothing |\n"
        "text `x` | `y` |\n");
    EXPECT_EQ(table, (std::map<std::string, std::set<std::string>>{
                         {"link", {"platform", "protocol"}}, {"pages/core", {"link"}}, {"platform", {}}}));
}

}  // namespace
}  // namespace pellory::architecture
