// The files that go into the package against the programs themselves: the man pages name every
// option, command and exit status that --help shows (and no option it does not), the bash
// completion offers every command, option and sample name, and the version is the same in the
// programs, the man pages, the package's changelog and the build.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "app/about_dialog.h"
#include "app/pellory_app.h"
#include "cli/cli.h"
#include "pellory_version.h"

using namespace pellory;

namespace {

std::string ReadSourceFile(const std::string& relative) {
    std::ifstream in(std::string(PELLORY_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A file the build made from a source file ("man/pellory.1" from "man/pellory.1.in").
std::string ReadBuiltFile(const std::string& relative) {
    std::ifstream in(std::string(PELLORY_BINARY_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A man page's text as a reader sees it: "\-" is "-", font changes are gone.
std::string ManText(const std::string& relative) {
    std::string t = ReadBuiltFile(relative);
    t = std::regex_replace(t, std::regex(R"(\\f[BIRP])"), "");
    t = std::regex_replace(t, std::regex(R"(\\-)"), "-");
    return t;
}

// The long options ("--port") a text names.
std::set<std::string> LongOptions(const std::string& text) {
    std::set<std::string> found;
    const std::regex option(R"(--[a-z][a-z-]*[a-z])");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it) {
        found.insert(it->str());
    }
    return found;
}

// The whole help of pellory-cli: the usage text and every command's.
std::string AllCliHelp() {
    std::string text = app::CliUsage();
    for (const std::string& c : app::CliCommands()) text += app::CliCommandUsage(c).value_or("");
    return text;
}

// The numbers of an "Exit status: 0 done, 1 ..., 4 ..." sentence.
std::set<std::string> ExitStatuses(const std::string& help) {
    std::set<std::string> found;
    const size_t start = help.find("Exit status:");
    EXPECT_NE(start, std::string::npos);
    if (start == std::string::npos) return found;
    const std::string tail = help.substr(start);
    const std::regex number(R"((^|[ ,:\n])([0-9]{1,3}) )");
    for (auto it = std::sregex_iterator(tail.begin(), tail.end(), number); it != std::sregex_iterator(); ++it) {
        found.insert((*it)[2].str());
    }
    return found;
}

// The part of a man page between ".SH NAME" and the next ".SH".
std::string Section(const std::string& man, const std::string& name) {
    const size_t start = man.find(".SH " + name);
    if (start == std::string::npos) return {};
    const size_t end = man.find("\n.SH ", start + 1);
    return man.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST(ManPages, CliPageNamesEveryOptionCommandAndExitStatusOfTheHelp) {
    const std::string man = ManText("man/pellory-cli.1");
    ASSERT_FALSE(man.empty());
    const std::string help = AllCliHelp();
    for (const std::string& option : LongOptions(help)) {
        EXPECT_NE(man.find(option), std::string::npos) << option << " is in --help but not in the man page";
    }
    for (const std::string& option : LongOptions(Section(man, "OPTIONS") + Section(man, "COMMANDS"))) {
        EXPECT_NE(help.find(option), std::string::npos) << option << " is in the man page but not in --help";
    }
    const std::string commands = Section(man, "COMMANDS");
    for (const std::string& c : app::CliCommands()) {
        // ".B probe" or "\fBsample\fR \fINAME\fR" at the start of a tagged paragraph.
        EXPECT_TRUE(commands.find("\n.B " + c + "\n") != std::string::npos ||
                    commands.find(".TP\n" + c + " ") != std::string::npos)
            << c;
    }
    const std::string statuses = Section(man, "EXIT STATUS");
    const std::set<std::string> fromHelp = ExitStatuses(app::CliUsage());
    EXPECT_GE(fromHelp.size(), 5u);
    for (const std::string& n : fromHelp) {
        EXPECT_NE(statuses.find("\n.B " + n + "\n"), std::string::npos) << "exit status " << n;
    }
    const std::regex listed(R"(\n\.B ([0-9]+)\n)");
    for (auto it = std::sregex_iterator(statuses.begin(), statuses.end(), listed); it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(fromHelp.count((*it)[1].str()), 1u) << "exit status " << (*it)[1] << " is not in --help";
    }
    EXPECT_NE(Section(man, "ENVIRONMENT").find("PELLORY_COM"), std::string::npos);
}

TEST(ManPages, WindowPageNamesEveryOptionOfTheHelpAndNoOther) {
    const std::string man = ManText("man/pellory.1");
    ASSERT_FALSE(man.empty());
    const std::string help = app::UsageText("pellory");
    const std::set<std::string> helpOptions = LongOptions(help);
    EXPECT_TRUE(helpOptions.count("--version"));
    for (const std::string& option : helpOptions) {
        EXPECT_NE(man.find(option), std::string::npos) << option;
    }
    for (const std::string& option : LongOptions(Section(man, "OPTIONS"))) {
        EXPECT_EQ(helpOptions.count(option), 1u) << option << " is in the man page but not in --help";
    }
    EXPECT_NE(Section(man, "ENVIRONMENT").find("PELLORY_COM"), std::string::npos);
}

TEST(ManPages, CarryTheProgramsVersion) {
    EXPECT_EQ(std::string(kProgramVersion), PELLORY_PROJECT_VERSION);
    for (const std::string page : {"man/pellory.1", "man/pellory-cli.1"}) {
        const std::string man = ReadBuiltFile(page);
        const std::string th = man.substr(0, man.find('\n'));
        EXPECT_NE(th.find(std::string("Pellory ") + PELLORY_PROJECT_VERSION + "\""), std::string::npos)
            << page << ": " << th;
        // The source names no version of its own: the build fills in the project's.
        const std::string source = ReadSourceFile(page + ".in");
        EXPECT_NE(source.substr(0, source.find('\n')).find("\"Pellory @PROJECT_VERSION@\""), std::string::npos) << page;
    }
    EXPECT_EQ(app::VersionText(), std::string("Pellory ") + PELLORY_PROJECT_VERSION + "\n");
    EXPECT_EQ(std::string(app::kAboutVersionText), std::string("Pellory, Version ") + PELLORY_PROJECT_VERSION);
    // The package's changelog begins with the release it describes.
    const std::string changelog = ReadSourceFile("res/package/changelog");
    EXPECT_EQ(
        changelog.substr(0, changelog.find('\n')).rfind(std::string("pellory (") + PELLORY_PROJECT_VERSION + ") ", 0),
        0u)
        << changelog.substr(0, changelog.find('\n'));
}

TEST(BashCompletion, OffersEveryCommandOptionAndSample) {
    const std::string script = ReadSourceFile("res/completion/pellory-cli");
    ASSERT_FALSE(script.empty());
    auto offered = [&](const std::string& word) {
        const std::regex whole("(^|[\\s\"|(])" + std::regex_replace(word, std::regex(R"([-+])"), R"(\$&)") +
                               "($|[\\s\"|)])");
        return std::regex_search(script, whole);
    };
    for (const std::string& c : app::CliCommands()) EXPECT_TRUE(offered(c)) << c;
    for (const std::string& option : LongOptions(AllCliHelp())) EXPECT_TRUE(offered(option)) << option;
    const std::string sampleHelp = app::CliCommandUsage("sample").value_or("");
    const size_t list = sampleHelp.find("NAME is one of ");
    ASSERT_NE(list, std::string::npos);
    std::istringstream names(sampleHelp.substr(list + 15, sampleHelp.find('\n', list) - list - 15));
    std::string name;
    int count = 0;
    while (std::getline(names, name, ',')) {
        name.erase(0, name.find_first_not_of(' '));
        EXPECT_TRUE(offered(name)) << name;
        ++count;
    }
    EXPECT_EQ(count, 12);
}

// The completion of --encoding offers exactly the names "pellory-cli encodings" lists.
TEST(BashCompletion, OffersEveryEncodingName) {
    const std::string script = ReadSourceFile("res/completion/pellory-cli");
    const std::string head = "--encoding) COMPREPLY=($(compgen -W \"";
    const size_t from = script.find(head);
    ASSERT_NE(from, std::string::npos);
    const size_t start = from + head.size();
    std::istringstream words(script.substr(start, script.find('"', start) - start));
    std::set<std::string> offered;
    for (std::string w; words >> w;) offered.insert(w);

    std::ostringstream out, err;
    ASSERT_EQ(app::RunCli({"encodings"}, out, err), 0) << err.str();
    std::istringstream lines(out.str());
    std::set<std::string> listed;
    for (std::string line; std::getline(lines, line) && line.rfind("--charset", 0) != 0;) {
        listed.insert(line.substr(0, line.find(' ')));
    }
    EXPECT_EQ(offered, listed);
}

}  // namespace
