// The one seam through which the program asks its user something: message boxes and file
// dialogs. The window implements it with Qt dialogs, tests with a script, the command line
// with standard error.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "link/hex_echo.h"

namespace pellory::link {

// The program's title, the default caption of its message boxes.
inline constexpr const char* kProgramTitle = "Pellory";

class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    // A modal message box with an OK button. An empty caption means the program's title.
    // informative is an optional second text (the reason the system gave, a hint).
    virtual void ShowMessage(const std::string& text, const std::string& caption = {},
                             const std::string& informative = {}) = 0;
    // File dialogs. filter is in the "Name(*.a)|*.a|Other(*.*)|*.*||" form; the result is the
    // chosen full path, or nothing when the user cancelled.
    virtual std::optional<std::string> AskOpenFile(const std::string& filter) = 0;
    virtual std::optional<std::string> AskSaveFile(const std::string& filter) = 0;
    // Runs a step that may keep its caller waiting on the outside world for seconds (opening a
    // network printer: the name service, then the connection). The window runs it on a thread of
    // its own and keeps handling its events meanwhile, all but the user's input, so that nothing
    // the user does can start another action before the step is over; it returns when the step
    // has. Everyone else runs it in place.
    virtual void RunLongStep(const std::function<void()>& step) { step(); }
};

// Where a page hands its echo: the command history.
class HistorySink {
public:
    virtual ~HistorySink() = default;
    // Adds one history row holding the bytes sent; an empty record adds nothing. The record
    // shares its bytes: keeping it copies none.
    virtual void AddHistoryRow(const EchoRecord& echo) = 0;
};

}  // namespace pellory::link
