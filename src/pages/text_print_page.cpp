#include "pages/text_print_page.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>

#include <condition_variable>
#include <mutex>

#include "pages/command_edit.h"
#include "pages/page_widgets.h"
#include "protocol/hex.h"

namespace pellory::pages {

namespace {

// Characters on one display line of the receive view in hex mode.
constexpr int kReceiveLineChars = kReceivePairsPerLine * 3;

// Completion of a link message delivered with Send: finished when its event has been handled or
// dropped.
class Completion {
public:
    void Finish() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
    }
    bool WaitFor(uint32_t ms) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

// One link message on its way to the page's thread.
class LinkEvent : public QEvent {
public:
    static QEvent::Type Type() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    LinkEvent(uint32_t m, std::shared_ptr<Completion> completion)
        : QEvent(Type()), message(m), completion_(std::move(completion)) {}
    ~LinkEvent() override {
        if (completion_) completion_->Finish();
    }
    LinkEvent(const LinkEvent&) = delete;
    LinkEvent& operator=(const LinkEvent&) = delete;

    const uint32_t message;

private:
    std::shared_ptr<Completion> completion_;
};

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

// The page's window as its link's notification target. Posting holds the mutex, and the page
// clears the live flag under the same mutex at the start of its destruction, so no worker thread
// can post to a page that is going. Events still queued then go with the page's QObject.
class TextPrintNotifyTarget : public link::NotifyTarget {
public:
    static constexpr uint32_t kSendCheckMs = 20;

    explicit TextPrintNotifyTarget(QObject* receiver) : receiver_(receiver) {}

    bool IsLive() const override {
        std::lock_guard lock(mutex_);
        return receiver_ != nullptr;
    }
    void Post(uint32_t message, uintptr_t /*wParam*/, intptr_t /*lParam*/) override {
        std::lock_guard lock(mutex_);
        if (receiver_) QCoreApplication::postEvent(receiver_, new LinkEvent(message, nullptr));
    }
    void Send(uint32_t message, uintptr_t /*wParam*/, intptr_t /*lParam*/) override {
        auto completion = std::make_shared<Completion>();
        QObject* direct = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (!receiver_) return;
            if (receiver_->thread() == QThread::currentThread()) {
                direct = receiver_;  // only this thread could destroy it
            } else {
                QCoreApplication::postEvent(receiver_, new LinkEvent(message, completion));
            }
        }
        if (direct) {
            LinkEvent e(message, nullptr);
            QCoreApplication::sendEvent(direct, &e);
            return;
        }
        // Handled, or dropped with the page; a page that goes ends the wait in any case.
        while (!completion->WaitFor(kSendCheckMs)) {
            if (!IsLive()) return;
        }
    }
    // From now on nothing reaches the page.
    void Detach() {
        std::lock_guard lock(mutex_);
        receiver_ = nullptr;
    }

private:
    mutable std::mutex mutex_;
    QObject* receiver_;
};

CDialogTprint::CDialogTprint(QWidget* parent) : QWidget(parent) {
    BuildControls();
    // A probe takes the bytes received so far off the link; the ones not shown yet are shown
    // first rather than lost.
    SetEarlierBytesKeeper([this](const std::vector<uint8_t>& bytes) { ShowReceived(bytes); });
}

CDialogTprint::~CDialogTprint() {
    // No link thread reaches the page from here on; the link itself goes before the widgets.
    if (notify_) notify_->Detach();
    SetNotifyTarget(nullptr);
}

void CDialogTprint::BuildControls() {
    const DialogUnits du = widgets::SizeAsPage(this);

    MakeGroupDu(this, du, QStringLiteral("Transmitting data"), 4, 2, 294, 90);
    MakeGroupDu(this, du, QStringLiteral("Receiving data"), 4, 94, 294, 56);

    transmit_ = MakeControlDu<CCommandEdit>(this, du, kIdTransmitField, "transmitField", {10, 12, 222, 58});
    transmitHex_ =
        MakeControlDu<QCheckBox>(this, du, kIdTransmitHexBox, "transmitHex", {238, 12, 56, 10}, QStringLiteral("&Hex"));

    auto button = [&](QPushButton*& b, const char* caption, int id, const char* name, int x, int y, int w) {
        b = MakeControlDu<QPushButton>(this, du, id, name, {x, y, w, 14}, QString::fromLatin1(caption));
        b->setAutoDefault(false);
        b->setDefault(false);
    };
    button(print_, "&Print", kIdPrintButton, "printButton", 238, 24, 56);
    button(feed_, "&Feed", kIdFeedButton, "feedButton", 238, 40, 56);
    button(transmitClear_, "&Clear", kIdTransmitClearButton, "transmitClear", 238, 56, 56);
    button(load_, "&Load...", kIdLoadButton, "loadButton", 10, 74, 44);
    button(save_, "&Save...", kIdSaveButton, "saveButton", 58, 74, 44);

    path_ = MakeControlDu<QLineEdit>(this, du, kIdPathField, "pathField", {108, 75, 124, 12});
    path_->setReadOnly(true);
    button(open_, "&Open...", kIdOpenButton, "openButton", 238, 74, 56);

    receive_ = MakeControlDu<QPlainTextEdit>(this, du, kIdReceiveField, "receiveField", {10, 104, 222, 42});
    receive_->setReadOnly(true);
    receive_->setUndoRedoEnabled(false);  // the field only grows; no undo history to keep
    receive_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    receiveHex_ =
        MakeControlDu<QCheckBox>(this, du, kIdReceiveHexBox, "receiveHex", {238, 104, 56, 10}, QStringLiteral("He&x"));
    button(receiveClear_, "Cl&ear", kIdReceiveClearButton, "receiveClear", 238, 118, 56);

    // Both radio buttons have the page as parent, so they form one exclusive pair. They lie
    // within the part of the page that the tab control shows (about 168 of its 180 units).
    latin1Radio_ = MakeControlDu<QRadioButton>(this, du, kIdLatin1BytesRadio, "latin1Radio", {10, 154, 96, 10},
                                               widgets::WithMnemonic(QString::fromLatin1(kLatin1BytesText), u'b'));
    printerRadio_ =
        MakeControlDu<QRadioButton>(this, du, kIdPrinterCharactersRadio, "printerCharactersRadio", {110, 154, 110, 10},
                                    widgets::WithMnemonic(QString::fromLatin1(kPrinterCharactersText), u'r'));
    latin1Radio_->setChecked(true);

    // The boxes act on the user's clicks only; the program's setChecked sends no clicked().
    connect(print_, &QPushButton::clicked, this, [this] { OnPrint(); });
    connect(transmitHex_, &QCheckBox::clicked, this, [this](bool on) { OnTransmitHex(on); });
    connect(feed_, &QPushButton::clicked, this, [this] { OnFeed(); });
    connect(transmitClear_, &QPushButton::clicked, this, [this] { OnTransmitClear(); });
    connect(load_, &QPushButton::clicked, this, [this] { OnLoad(); });
    connect(save_, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(open_, &QPushButton::clicked, this, [this] { OnOpenFile(); });
    connect(receiveHex_, &QCheckBox::clicked, this, [this](bool on) { OnReceiveHex(on); });
    connect(receiveClear_, &QPushButton::clicked, this, [this] { OnReceiveClear(); });
    connect(latin1Radio_, &QRadioButton::clicked, this, [this] { ChooseCharacters(TextCharacters::Latin1Bytes); });
    connect(printerRadio_, &QRadioButton::clicked, this,
            [this] { ChooseCharacters(TextCharacters::PrinterCharacters); });
}

void CDialogTprint::ChooseCharacters(TextCharacters mode) {
    {
        const QSignalBlocker a(latin1Radio_), b(printerRadio_);
        (mode == TextCharacters::Latin1Bytes ? latin1Radio_ : printerRadio_)->setChecked(true);
    }
    if (mode == Characters()) return;
    // The typed characters stay as they are; only the bytes they stand for change.
    SetTextCharacters(mode);
    RebuildReceiveView();
    // The history's "Tips" column shows bytes by the same choice.
    if (QWidget* top = window()) top->update();
}

// --- set-up by the main window ---------------------------------------------------------------

void CDialogTprint::MakeSelfNotifyWindow() {
    if (!notify_) notify_ = std::make_shared<TextPrintNotifyTarget>(this);
    SetNotifyTarget(notify_);
}

void CDialogTprint::SetReceiveHex(bool on) {
    const QSignalBlocker block(receiveHex_);
    receiveHex_->setChecked(on);
}

void CDialogTprint::SetTransmitText(const QString& text) { transmit_->setPlainText(text); }

// --- field texts -------------------------------------------------------------------------------

std::string CDialogTprint::TransmitText() const {
    // The raw text keeps no-break spaces; only the paragraph and line separators need mapping.
    // As bytes, a character beyond Latin-1 (it can only be pasted) becomes '?'; as printer
    // characters every character is kept, and one without a code is refused when it is used.
    QString text = transmit_->document()->toRawText();
    for (QChar& c : text) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = QLatin1Char('\n');
    }
    const QByteArray bytes = Characters() == TextCharacters::PrinterCharacters ? text.toUtf8() : text.toLatin1();
    return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

QString CDialogTprint::ReceiveText() const { return Latin1(receiveText_); }

void CDialogTprint::SetTransmitField(const std::string& text) {
    const std::string field = ContentForField(text);
    transmit_->setPlainText(Characters() == TextCharacters::PrinterCharacters
                                ? QString::fromUtf8(field.data(), static_cast<qsizetype>(field.size()))
                                : Latin1(field));
}

// --- the handlers ------------------------------------------------------------------------------

void CDialogTprint::OnPrint() {
    if (busy_) return;
    MakeSelfNotifyWindow();
    Print(TransmitText(), transmitHex_->isChecked());
}

void CDialogTprint::OnFeed() {
    if (busy_) return;
    Feed();
}

void CDialogTprint::OnTransmitClear() {
    if (busy_) return;
    transmit_->clear();
}

void CDialogTprint::OnTransmitHex(bool checked) {
    // The box has already changed state: the field and its mode follow it, unless the text does
    // not convert (a character without a code, a byte without a character: message shown); then
    // the box goes back and the field keeps its text.
    const std::optional<std::string> converted = ConvertTransmit(TransmitText(), checked);
    if (!converted) {
        const QSignalBlocker block(transmitHex_);
        transmitHex_->setChecked(!checked);
        return;
    }
    SetTransmitField(*converted);
    transmit_->hexOnly = checked;
}

void CDialogTprint::OnLoad() {
    if (busy_) return;
    const std::optional<std::string> content = Load();
    if (!content) return;
    transmitHex_->setChecked(true);
    transmit_->hexOnly = true;
    SetTransmitField(*content);
}

void CDialogTprint::OnSave() {
    if (busy_) return;
    Save(TransmitText(), transmitHex_->isChecked());
}

void CDialogTprint::OnOpenFile() {
    if (busy_) return;
    busy_ = true;
    bool disabled = false;
    const auto showPath = [this](const std::string& path) {
        path_->setText(QFile::decodeName(QByteArray::fromStdString(path)));
    };
    // While the send buffer drains, the window stays alive (received bytes are shown, a tab
    // change may close the link), but no other action of the page can start.
    const auto wait = [this, &disabled] {
        if (!disabled) {
            SetActionControlsEnabled(false);
            disabled = true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(kBacklogPollMs));
    };
    SendFile(showPath, wait);
    if (disabled) SetActionControlsEnabled(true);
    busy_ = false;
}

void CDialogTprint::OnReceiveHex(bool checked) {
    receiveText_ = ConvertReceiveText(receiveText_, checked);
    RebuildReceiveView();
}

void CDialogTprint::OnReceiveClear() {
    receiveText_.clear();
    RebuildReceiveView();
}

void CDialogTprint::SetActionControlsEnabled(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{transmit_, transmitHex_, print_, feed_, transmitClear_, load_,
                                                      save_, open_, receiveHex_, receiveClear_, latin1Radio_,
                                                      printerRadio_}) {
        w->setEnabled(on);
    }
}

// --- received bytes ------------------------------------------------------------------------------

bool CDialogTprint::event(QEvent* e) {
    if (e->type() == LinkEvent::Type()) {
        OnLinkMessage(static_cast<LinkEvent*>(e)->message);
        return true;
    }
    return QWidget::event(e);
}

void CDialogTprint::OnLinkMessage(uint32_t message) {
    switch (message) {
        case link::MSG_LINK_RECEIVE:
            OnLinkReceive();
            break;
        case link::MSG_LINK_TXEMPTY:
            OnTransmitEmpty();
            break;
        case link::MSG_LINK_REMOVED:
            OnDeviceRemoved();
            break;
        default:
            break;
    }
}

void CDialogTprint::OnLinkReceive() { ShowReceived(TakeReceived()); }

void CDialogTprint::ShowReceived(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;  // taken by an earlier notification
    AppendReceived(ReceiveAppendText(bytes.data(), bytes.size(), receiveHex_->isChecked()));
    ScrollReceiveToEnd();
    FeedDecoder(bytes);
}

namespace {

// The view's form of characters appended after `previous` (the field's last character, or 0):
// CR LF, a lone CR and a lone LF each show as one line break; in hex mode a display line ends
// after kReceiveLineChars characters. column is the length of the view's last line. With a
// decoder (printer characters, character mode) the bytes show as the printer's characters.
QString ViewText(const std::string& text, char previous, bool hexMode, int& column,
                 charset::StreamDecoder* decoder) {
    QString out;
    out.reserve(static_cast<qsizetype>(text.size() + text.size() / kReceiveLineChars + 1));
    char32_t last = static_cast<unsigned char>(previous);
    const auto show = [&](char32_t c) {
        if (c == U'\n' && last == U'\r') {
            last = c;
            return;
        }
        last = c;
        if (c == U'\r' || c == U'\n') {
            out += QLatin1Char('\n');
            column = 0;
            return;
        }
        if (hexMode && column >= kReceiveLineChars) {
            out += QLatin1Char('\n');
            column = 0;
        }
        // Other control characters have no picture in most fonts: they show as \xHH, as in the
        // history's "Tips".
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            out += QLatin1String("\\x");
            out += QLatin1Char(protocol::hex::Digit(c >> 4));
            out += QLatin1Char(protocol::hex::Digit(c));
            column += 4;
            return;
        }
        if (c < 0x10000) {
            out += QChar(static_cast<char16_t>(c));
        } else {
            out += QString::fromUcs4(&c, 1);
        }
        ++column;
    };
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!decoder) {
            show(byte);
            continue;
        }
        for (const charset::StreamDecoder::Piece& p : decoder->Feed(byte)) {
            if (p.kind == charset::StreamDecoder::Piece::Kind::Character) {
                show(p.character);
            } else if (p.kind == charset::StreamDecoder::Piece::Kind::Unknown) {
                std::string escaped;
                for (uint8_t b : p.unknownBytes) charset::AppendHexEscape(escaped, b);
                for (char e : escaped) show(static_cast<unsigned char>(e));
            }
        }
    }
    return out;
}

}  // namespace

void CDialogTprint::AppendReceived(const std::string& text) {
    if (text.empty()) return;
    const char previous = receiveText_.empty() ? '\0' : receiveText_.back();
    if (viewDecoder_) viewDecoder_->SetState(ViewState());  // "Print Setup" may have changed it
    const QString view = ViewText(text, previous, receiveHex_->isChecked(), viewColumn_,
                                  viewDecoder_ ? &*viewDecoder_ : nullptr);
    receiveText_ += text;
    // Only the new characters go into the document: no rebuild of what it holds already.
    QTextCursor cursor(receive_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(view);
}

charset::PrinterState CDialogTprint::ViewState() {
    // Only bytes 0x80-0xFF show as the printer's characters: the lower half stays ASCII.
    charset::PrinterState state = CharacterState();
    state.internationalSet = 0;
    return state;
}

void CDialogTprint::RebuildReceiveView() {
    viewColumn_ = 0;
    viewDecoder_.reset();
    if (Characters() == TextCharacters::PrinterCharacters && !receiveHex_->isChecked()) {
        viewDecoder_.emplace(ViewState());
    }
    receive_->setPlainText(ViewText(receiveText_, '\0', receiveHex_->isChecked(), viewColumn_,
                                    viewDecoder_ ? &*viewDecoder_ : nullptr));
    ScrollReceiveToEnd();
}

void CDialogTprint::ScrollReceiveToEnd() {
    QScrollBar* bar = receive_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

}  // namespace pellory::pages
