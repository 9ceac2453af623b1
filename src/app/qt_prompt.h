// The message seam on Qt: message boxes and file dialogs owned by a page or by the main window.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "link/ui_seam.h"

namespace pellory::app {

// Converts a file filter of the "Name(*.a)|*.a|Other(*.*)|*.*||" form, pairs of a shown name and
// its patterns separated by '|' and ended by "||", into Qt's "Name(*.a) (*.a);;Other(*.*) (*.*)"
// form. Patterns separated by ';' become separated by spaces ("*.jpg;*.jpeg" -> "*.jpg *.jpeg").
// A name without patterns matches every file ("(*)"); an empty filter gives an empty string (Qt
// then shows every file).
QString QtFileFilter(std::string_view filter);

// Runs step on a thread of its own while the window thread goes on handling its events (timers,
// painting, messages from links), all but the user's input, which waits until the step is over.
// Returns when the step has returned, also when the program is asked to quit meanwhile. Off the
// window thread, or where no thread can be started, the step runs in place.
void RunKeepingWindowAlive(const std::function<void()>& step);

class QtPrompt : public link::UserPrompt {
public:
    // parent owns the dialogs (they are centred on it and block its window); may be null.
    explicit QtPrompt(QWidget* parent = nullptr);

    // A QMessageBox with an OK button: the text, the caption (the program's title when empty)
    // as window title, and the informative text beneath when given.
    void ShowMessage(const std::string& text, const std::string& caption = {},
                     const std::string& informative = {}) override;
    // File dialogs; the chosen path in the file system's encoding, nothing on cancel. The save
    // dialog asks before it lets an existing file be chosen.
    std::optional<std::string> AskOpenFile(const std::string& filter) override;
    std::optional<std::string> AskSaveFile(const std::string& filter) override;
    // RunKeepingWindowAlive, with the wait cursor over the window meanwhile.
    void RunLongStep(const std::function<void()>& step) override;

    QWidget* Parent() const { return parent_; }

private:
    QPointer<QWidget> parent_;
};

}  // namespace pellory::app
