// The "Text Print" tab page: the widgets over TextPrintActions.
//
// The page's window is its link's notification window: the link's reader thread posts
// MSG_LINK_RECEIVE, and the page shows the received bytes on its own thread and feeds them to
// the decoder.
//
// Transmit field: a plain-text edit holds line breaks, not CR and LF characters. CR LF, a lone CR
// and a lone LF put into it (a loaded file, hex text turned into characters) each become one line
// break, which prints and converts back to hex as 0D 0A.
//
// Receive field: the page keeps the field's exact characters (every received CR and LF byte
// included) and shows them in a read-only plain-text view, appending each batch at the end
// without rebuilding the rest. In hex mode the view starts a new display line every
// kReceivePairsPerLine pairs, as a wrapping edit would show them; those display breaks are not
// part of the field's text (ReceiveText()), which the "Hex" box converts. The field keeps the
// received bytes; with "Printer characters" chosen the view shows them as the printer's
// characters ("\xHH" for a byte without one), otherwise as Latin-1.
//
// Characters: a radio pair below the groups, "Bytes (Latin-1)" (the start) and "Printer
// characters", chooses how typed text becomes bytes (TextPrintActions::SetTextCharacters).
#pragma once

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "charset/printer_text.h"

#include "pages/core/text_print_actions.h"

class QCheckBox;
class QEvent;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace pellory::pages {

class CCommandEdit;
class TextPrintNotifyTarget;

// Control ids of the page.
enum TextPrintControlId : int {
    kIdReceiveField = 1021,
    kIdTransmitField = 1027,
    kIdPrintButton = 1028,
    kIdFeedButton = 1029,
    kIdTransmitClearButton = 1030,
    kIdLoadButton = 1031,
    kIdSaveButton = 1032,
    kIdPathField = 1033,
    kIdOpenButton = 1034,
    kIdReceiveHexBox = 1035,
    kIdTransmitHexBox = 1036,
    kIdReceiveClearButton = 1037,
    kIdLatin1BytesRadio = 1038,
    kIdPrinterCharactersRadio = 1039,
};

// Hex pairs per display line of the receive view.
constexpr int kReceivePairsPerLine = 16;

class CDialogTprint : public QWidget, public TextPrintActions {
public:
    explicit CDialogTprint(QWidget* parent = nullptr);
    ~CDialogTprint() override;

    // What the main window does for this page at start-up.
    // Makes the page's window the link's notification window.
    void MakeSelfNotifyWindow();
    // Checks or unchecks the receive "Hex" box; the field is not converted.
    void SetReceiveHex(bool on);
    // Sets the transmit field's text (not filtered, whatever the hex-only mode).
    void SetTransmitText(const QString& text);

    // Chooses how typed text becomes bytes, as a click on the radio button does.
    void ChooseCharacters(TextCharacters mode);

    // The transmit field's text as Latin-1 bytes (UTF-8 with "Printer characters"), line breaks
    // as "\n".
    std::string TransmitText() const;
    // The receive field's text: its exact characters, without the view's display breaks.
    QString ReceiveText() const;
    CCommandEdit* TransmitField() const { return transmit_; }
    QPlainTextEdit* ReceiveView() const { return receive_; }

    // Delivers one link message as the window would (MSG_LINK_RECEIVE, MSG_LINK_TXEMPTY).
    void OnLinkMessage(uint32_t message);

protected:
    bool event(QEvent* e) override;

private:
    void BuildControls();
    void OnPrint();
    void OnFeed();
    void OnTransmitClear();
    void OnTransmitHex(bool checked);
    void OnLoad();
    void OnSave();
    void OnOpenFile();
    void OnReceiveHex(bool checked);
    void OnReceiveClear();
    void OnLinkReceive();
    // Shows received bytes and feeds them to the decoder (a notification's batch, or the bytes
    // a probe takes off the link before its request).
    void ShowReceived(const std::vector<uint8_t>& bytes);

    // Replaces the transmit field's text with Latin-1 text (UTF-8 with "Printer characters")
    // whose CR LF pairs are line breaks.
    void SetTransmitField(const std::string& text);
    // Appends characters to the receive field (and its view).
    void AppendReceived(const std::string& text);
    // The state the view reads bytes 0x80-0xFF by (the lower half stays ASCII).
    static charset::PrinterState ViewState();
    // Shows the whole receive field anew (after a conversion or a clear).
    void RebuildReceiveView();
    void ScrollReceiveToEnd();
    // Enables or disables every control the user could start another action with.
    void SetActionControlsEnabled(bool on);

    CCommandEdit* transmit_ = nullptr;
    QCheckBox* transmitHex_ = nullptr;
    QPushButton* print_ = nullptr;
    QPushButton* feed_ = nullptr;
    QPushButton* transmitClear_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* save_ = nullptr;
    QLineEdit* path_ = nullptr;
    QPushButton* open_ = nullptr;
    QPlainTextEdit* receive_ = nullptr;
    QCheckBox* receiveHex_ = nullptr;
    QPushButton* receiveClear_ = nullptr;
    QRadioButton* latin1Radio_ = nullptr;
    QRadioButton* printerRadio_ = nullptr;

    // The receive field's characters (Latin-1 bytes).
    std::string receiveText_;
    // Characters on the view's last display line.
    int viewColumn_ = 0;
    // The printer's reading of the received bytes for the view (with "Printer characters" in
    // character mode): it keeps a lead byte whose trail has not arrived yet.
    std::optional<charset::StreamDecoder> viewDecoder_;
    // True while a file send runs the event loop; handlers then do nothing.
    bool busy_ = false;

    std::shared_ptr<TextPrintNotifyTarget> notify_;
};

}  // namespace pellory::pages
