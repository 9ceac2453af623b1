// Saving the command history: the hexadecimal text of every ticked row, each followed by CR LF,
// into a text file whose name always ends in ".txt".
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "link/hex_echo.h"

namespace pellory::link {
class UserPrompt;
}

namespace pellory::app {

class HistoryModel;

// The file filter of the save dialog.
inline constexpr const char* kHistoryFileFilter = "TXT files(*.txt)|*.txt||";
// Message texts of the Save button.
inline constexpr const char* kNoDataText = "No Data";
inline constexpr const char* kOperationFailedText = "Operation Failed";

enum class SaveResult {
    kSaved,            // the file was written (write errors after creating it are not reported)
    kNoData,           // the history has no rows: nothing was touched
    kOperationFailed,  // the file could not be created for writing
    kCancelled,        // the user cancelled the save dialog: nothing was touched
};

// The message the window shows for a result; empty for kSaved and kCancelled.
std::string_view SaveResultText(SaveResult result);

// The path a chosen file name is saved under: unchanged when the extension of its file name is
// "txt" in any letter case, else with ".txt" appended ("report.TXT" stays, "report.dat" becomes
// "report.dat.txt", "report" becomes "report.txt"); the rule the hex command files use too.
std::string WithTxtExtension(std::string path);

// Writes the ticked rows of the history to the file at WithTxtExtension(chosenPath): an existing
// file there is deleted first, then the file is created and every ticked row's hex text is
// written as stored, followed by "\r\n"; unticked rows and the readings are not written. The path
// actually used is stored in *savedPath when given. An empty history gives kNoData and touches no
// file; a file that cannot be created gives kOperationFailed.
SaveResult SaveHistory(const HistoryModel& history, const std::string& chosenPath,
                       std::string* savedPath = nullptr);

// The whole Save button: "No Data" for an empty history, else the save dialog with
// kHistoryFileFilter (nothing happens on cancel), then SaveHistory and "Operation Failed" when
// the file cannot be created.
SaveResult SaveHistoryInteractively(const HistoryModel& history, link::UserPrompt& prompt);

// The content of a history file holding every one of the given hex texts (all of them count as
// ticked): each text followed by "\r\n". Empty texts are skipped, as the history never holds them.
std::string HistoryFileContent(const std::vector<std::string>& hexRows);

// Writes the same content for the rows' hex texts to out, piece by piece, never holding a whole
// row's hex text. Empty rows are skipped.
void WriteHistoryRows(std::ostream& out, const std::vector<link::EchoRecord>& rows);

}  // namespace pellory::app
