// The printer's answers, byte for byte, in every state: DLE EOT 1-5, GS r, automatic status back,
// GS I, GS ( H and DLE DC4 8; which commands are requests and what they change; the states by
// name; and the per-connection intake's holding, release order, clearing and limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/server_clients.h"
#include "vprinter/printer_answers.h"
#include "vprinter/printer_intake.h"

namespace pellory::vprinter {
namespace {

using test::Bytes;
using test::HexBytes;

// Every answer of one state, as the reference's bit tables give them.
struct StateAnswers {
    const char* states;
    uint8_t eot1, eot2, eot3, eot4, eot5;  // DLE EOT n
    uint8_t gsr1, gsr2;                    // GS r 1, GS r 2
    const char* asb;                       // GS a: the four bytes
};

const StateAnswers kStateAnswers[] = {
    {"", 0x12, 0x12, 0x12, 0x12, 0x00, 0x00, 0x00, "10 00 00 00"},
    {"paper-near-end", 0x12, 0x12, 0x12, 0x1E, 0x00, 0x03, 0x00, "10 00 03 00"},
    {"paper-end", 0x1A, 0x32, 0x12, 0x72, 0x04, 0x0C, 0x00, "18 00 0C 00"},
    {"cover-open", 0x1A, 0x16, 0x12, 0x12, 0x02, 0x00, 0x00, "38 00 00 00"},
    {"offline", 0x1A, 0x12, 0x12, 0x12, 0x40, 0x00, 0x00, "18 00 00 00"},
    {"drawer-open", 0x16, 0x12, 0x12, 0x12, 0x00, 0x00, 0x01, "14 00 00 00"},
    {"cutter-error", 0x1A, 0x52, 0x1A, 0x12, 0x20, 0x00, 0x00, "18 08 00 00"},
    {"overheat", 0x1A, 0x52, 0x52, 0x12, 0x08, 0x00, 0x00, "18 40 00 00"},
    {"error", 0x1A, 0x52, 0x32, 0x12, 0x01, 0x00, 0x00, "18 20 00 00"},
    {"silent", 0x12, 0x12, 0x12, 0x12, 0x00, 0x00, 0x00, "10 00 00 00"},
    {"paper-end,cover-open,drawer-open", 0x1E, 0x36, 0x12, 0x72, 0x06, 0x0C, 0x01, "3C 00 0C 00"},
    {"paper-near-end,cutter-error,overheat", 0x1A, 0x52, 0x5A, 0x1E, 0x28, 0x03, 0x00, "18 48 03 00"},
};

States StatesOf(const char* names) {
    if (*names == '\0') return 0;
    const auto s = ParseStates(names);
    EXPECT_TRUE(s.has_value()) << names;
    return s.value_or(0);
}

TEST(PrinterAnswers, EveryStatusAnswerOfEveryState) {
    for (const StateAnswers& row : kStateAnswers) {
        SCOPED_TRACE(row.states);
        const States s = StatesOf(row.states);
        EXPECT_EQ(RealTimeStatus(1, s), row.eot1);
        EXPECT_EQ(RealTimeStatus(2, s), row.eot2);
        EXPECT_EQ(RealTimeStatus(3, s), row.eot3);
        EXPECT_EQ(RealTimeStatus(4, s), row.eot4);
        EXPECT_EQ(RealTimeStatus(5, s), row.eot5);
        EXPECT_EQ(TransmitStatus(1, s), row.gsr1);
        EXPECT_EQ(TransmitStatus(49, s), row.gsr1);
        EXPECT_EQ(TransmitStatus(2, s), row.gsr2);
        EXPECT_EQ(TransmitStatus(50, s), row.gsr2);
        const auto asb = AutomaticStatus(s);
        EXPECT_EQ(Bytes(asb.begin(), asb.end()), HexBytes(row.asb));
        // Pellory's own status byte reads back as the states it has a bit for.
        EXPECT_EQ(StatesOfPelloryStatusByte(PelloryStatusByte(s)), s & ~(kPaperNearEnd | kDrawerOpen | kSilent));
    }
}

// The fixed bits that let a host tell the replies apart hold for every request and state.
TEST(PrinterAnswers, FixedBitsInEveryReply) {
    for (States s = 0; s < (1u << kStateNames.size()); ++s) {
        for (int n = 0; n < 256; ++n) {
            const auto n8 = static_cast<uint8_t>(n);
            if (const auto b = RealTimeStatus(n8, s); b && n != 5) {
                EXPECT_EQ(*b & 0x93, 0x12) << n << " " << s;
            }
            if (const auto b = TransmitStatus(n8, s)) {
                EXPECT_EQ(*b & 0x90, 0) << n << " " << s;
            }
        }
        const auto asb = AutomaticStatus(s);
        EXPECT_EQ(asb[0] & 0x93, 0x10);
        for (int i = 1; i < 4; ++i) EXPECT_EQ(asb[static_cast<size_t>(i)] & 0x90, 0);
    }
    for (Model m : {Model::Orva58, Model::Orva80}) {
        for (int n : {1, 2, 3, 49, 50, 51}) {
            const auto id = PrinterIdAnswer(static_cast<uint8_t>(n), m);
            ASSERT_TRUE(id.has_value());
            ASSERT_EQ(id->size(), 1u);
            EXPECT_EQ(id->front() & 0x90, 0) << n;
        }
    }
}

// The answers to DLE EOT 1-4, read the other way, give the states back: each state alone (silent
// answers nothing, so it is never read), and any set of them but for offline, which the cause
// read beside it (a cover open, the paper out, an error) explains.
TEST(PrinterAnswers, TheRealTimeAnswersReadBackAsTheirStates) {
    const auto answersOf = [](States s) {
        Bytes answers;
        for (uint8_t n = 1; n <= 4; ++n) answers.push_back(RealTimeStatus(n, s).value_or(0));
        return answers;
    };
    for (const StateName& state : kStateNames) {
        if (state.bit == kSilent) continue;
        EXPECT_EQ(StatesText(StatesOfRealTimeStatus(answersOf(state.bit))), state.name);
    }
    for (States s = 0; s < kSilent; ++s) {
        const States others = s & ~kOffline;
        EXPECT_EQ(StatesOfRealTimeStatus(answersOf(s)), StopsPrinting(others) ? others : s) << StatesText(s);
    }
}

// What other printers answer: bits the states have no name for, one bit of a sensor's pair,
// fewer than four answers, and a byte not of the fixed-bit form, which ends the reading.
TEST(PrinterAnswers, RealTimeAnswersOfOtherPrintersReadAsStates) {
    struct Row {
        const char* answers;  // hex, to DLE EOT 1, 2, ...
        const char* states;
    };
    const Row rows[] = {
        {"", "ready"},
        {"12 12 12 12", "ready"},
        {"52 12 12 12", "ready"},                    // the feed button held
        {"1A 1A 12 12", "offline"},                  // feeding by the button: offline, no cause
        {"1A", "offline"},                           // only DLE EOT 1 answered
        {"16", "drawer-open"},
        {"1A 32 12 7E", "paper-near-end,paper-end"}, // out of paper, both sensors
        {"12 12 12 16", "paper-near-end"},           // one bit of the near-end pair
        {"12 12 12 32", "paper-end"},                // one bit of the end pair
        {"1A 52 16 12", "error"},                    // a mechanical error
        {"1A 52", "error"},                          // an error whose cause was not read
        {"1A 52 1A 12", "cutter-error"},
        {"16 12 00 1E", "drawer-open"},              // the third is no such answer: the paper not read
        {"1A 12 92 12", "offline"},                  // bit 7 set: not read
        {"1A 0E 12 12", "offline"},                  // bit 4 clear: not read
        {"13 16 12 12", "ready"},                    // bit 0 set: nothing read
    };
    for (const Row& row : rows) {
        const Bytes answers = *row.answers ? HexBytes(row.answers) : Bytes{};
        EXPECT_EQ(StatesText(StatesOfRealTimeStatus(answers)), row.states) << row.answers;
    }
}

struct Request {
    const char* bytes;  // hex
    const char* states;
    Model model;
    Reaction::When when;
    const char* request;
    const char* answer;  // hex
    States set, clear;
    bool clearBuffers;
};

constexpr auto kAtOnce = Reaction::When::AtOnce;
constexpr auto kInOrder = Reaction::When::InOrder;
constexpr auto kAfter = Reaction::When::AfterPrint;
constexpr auto kNone = Reaction::When::None;

const Request kRequests[] = {
    {"10 04 01", "", Model::Orva80, kAtOnce, "DLE 04 01", "12", 0, 0, false},
    {"10 04 05", "cover-open", Model::Orva80, kAtOnce, "DLE 04 05", "02", 0, 0, false},
    {"10 04 00", "", Model::Orva80, kNone, "", "", 0, 0, false},
    {"10 04 06", "", Model::Orva80, kNone, "", "", 0, 0, false},
    {"10 04 01", "silent,paper-end", Model::Orva80, kAtOnce, "DLE 04 01", "", 0, 0, false},
    {"1D 72 01", "paper-end", Model::Orva80, kInOrder, "GS r 01", "0C", 0, 0, false},
    {"1D 72 32", "drawer-open", Model::Orva58, kInOrder, "GS r 32", "01", 0, 0, false},
    {"1D 72 03", "", Model::Orva80, kNone, "", "", 0, 0, false},
    {"1D 49 43", "", Model::Orva80, kAtOnce, "GS I 43", "5F 4F 52 56 41 38 30 00", 0, 0, false},
    {"1D 49 43", "", Model::Orva58, kAtOnce, "GS I 43", "5F 4F 52 56 41 35 38 00", 0, 0, false},
    {"1D 49 42", "", Model::Orva58, kAtOnce, "GS I 42", "5F 50 65 6C 6C 6F 72 79 00", 0, 0, false},
    {"1D 49 41", "", Model::Orva80, kAtOnce, "GS I 41", "5F 31 2E 30 30 00", 0, 0, false},
    {"1D 49 44", "", Model::Orva80, kAtOnce, "GS I 44", "5F 50 56 38 30 30 30 30 30 30 31 00", 0, 0, false},
    {"1D 49 45", "", Model::Orva80, kAtOnce, "GS I 45", "5F 41 4E 4B 00", 0, 0, false},
    {"1D 49 02", "", Model::Orva80, kAtOnce, "GS I 02", "02", 0, 0, false},
    {"1D 49 46", "", Model::Orva80, kNone, "", "", 0, 0, false},
    {"1D 61 0F", "offline", Model::Orva80, kAtOnce, "GS a 0F", "18 00 00 00", 0, 0, false},
    {"1D 61 00", "offline", Model::Orva80, kAtOnce, "GS a 00", "", 0, 0, false},
    {"1D 28 48 06 00 30 30 41 42 43 44", "cover-open", Model::Orva80, kAfter, "GS ( H 06 00 30 30 41 42 ...",
     "37 22 41 42 43 44 00", 0, 0, false},
    {"1D 28 48 06 00 31 30 41 42 43 44", "", Model::Orva80, kNone, "", "", 0, 0, false},
    {"10 14 01 00 01", "", Model::Orva80, kAtOnce, "DLE 14 01 00 01", "", kDrawerOpen, 0, false},
    {"1B 70 00 19 FA", "", Model::Orva80, kAtOnce, "ESC p 00 19 FA", "", kDrawerOpen, 0, false},
    {"10 14 08 01 03 14 01 06 02 08", "offline", Model::Orva80, kAtOnce, "DLE 14 08 01 03 14 01 06 ...", "37 25 00", 0,
     0, true},
    {"10 14 08 01 03 14 01 06 02 07", "", Model::Orva80, kNone, "", "", 0, 0, false},
    {"10 05 01", "cutter-error", Model::Orva80, kAtOnce, "DLE 05 01", "", 0, kCutterError, false},
    {"10 05 02", "cutter-error", Model::Orva80, kAtOnce, "DLE 05 02", "", 0, kCutterError, true},
    {"1B 40", "", Model::Orva80, kNone, "", "", 0, 0, false},
};

TEST(PrinterAnswers, EveryRequestItsReaction) {
    for (const Request& row : kRequests) {
        SCOPED_TRACE(std::string(row.bytes) + " in " + row.states);
        const Bytes cmd = HexBytes(row.bytes);
        const Reaction r = ReactTo(cmd.data(), cmd.size(), StatesOf(row.states), row.model);
        EXPECT_EQ(r.when, row.when);
        EXPECT_EQ(r.request, row.request);
        EXPECT_EQ(r.answer, HexBytes(row.answer));
        EXPECT_EQ(r.set, row.set);
        EXPECT_EQ(r.clear, row.clear);
        EXPECT_EQ(r.clearBuffers, row.clearBuffers);
    }
}

TEST(PrinterStates, NamesBothWays) {
    for (const StateName& n : kStateNames) {
        EXPECT_EQ(StateByName(n.name), n.bit);
        EXPECT_EQ(StatesText(n.bit), n.name);
    }
    EXPECT_EQ(StatesText(0), "ready");
    EXPECT_EQ(ParseStates("cover-open,paper-end"), States(kCoverOpen | kPaperEnd));
    EXPECT_EQ(StatesText(kCoverOpen | kPaperEnd | kSilent), "paper-end,cover-open,silent");
    std::string bad;
    EXPECT_FALSE(ParseStates("paper-end,lid-open", &bad).has_value());
    EXPECT_EQ(bad, "lid-open");
    EXPECT_FALSE(ParseStates("", &bad).has_value());
    EXPECT_FALSE(ParseStates("paper-end,", &bad).has_value());
    EXPECT_EQ(ModelByName("ORVA58"), Model::Orva58);
    EXPECT_FALSE(ModelByName("orva").has_value());
}

// --- the intake: what is printed, sent and kept, in order ---

// Records what an intake does, in one list, in order: "send 12", "print 41 42".
struct RecordingHost : PrinterIntake::Host {
    std::vector<std::string> events;
    States set = 0, cleared = 0;
    void send(const uint8_t* b, size_t n) override { events.push_back("send " + test::HexText(b, n)); }
    void print(const uint8_t* b, size_t n) override { events.push_back("print " + test::HexText(b, n)); }
    void changeStates(States s, States c) override {
        set |= s;
        cleared |= c;
    }
};

struct IntakeCase {
    const char* name;
    States stateWhileFed;
    std::vector<const char*> pieces;  // hex, fed one after another
    std::vector<std::string> whileFed;
    std::vector<std::string> onRelease;  // after the state clears
};

const IntakeCase kIntakeCases[] = {
    {"printing: requests answered before the bytes print, GS ( H after them",
     0,
     {"41 10 04 01 42 1D 28 48 06 00 30 30 31 32 33 34 43"},
     {"send 12", "print 41 10 04 01 42 1D 28 48 06 00 30 30 31 32 33 34", "send 37 22 31 32 33 34 00", "print 43"},
     {}},
    {"held: real-time requests answered, printing and GS ( H wait for the release",
     kCoverOpen,
     {"41 10 04 02", "1D 28 48 06 00 30 30", "31 32 33 34 42"},
     {"send 16"},
     {"print 41 10 04 02 1D 28 48 06 00 30 30 31 32 33 34", "send 37 22 31 32 33 34 00", "print 42"}},
    {"held: DLE DC4 8 drops what waited before it and answers at once",
     kOffline,
     {"41 41 1D 28 48 06 00 30 30 31 32 33 34", "10 14 08 01 03 14 01 06 02 08 42"},
     {"send 37 25 00"},
     {"print 42"}},
    {"automatic status back: at once when asked",
     kPaperNearEnd,
     {"1D 61 08 0A"},
     {"send 10 00 03 00", "print 1D 61 08 0A"},
     {"send 10 00 00 00"}},
};

TEST(PrinterIntake, OrderOfAnswersAndPrinting) {
    for (const IntakeCase& c : kIntakeCases) {
        SCOPED_TRACE(c.name);
        PrinterIntake intake(Model::Orva80, {1 << 20, 1 << 10});
        RecordingHost host;
        Bytes all;
        for (const char* piece : c.pieces) {
            const Bytes b = HexBytes(piece);
            all.insert(all.end(), b.begin(), b.end());
            ASSERT_LE(b.size(), intake.room(c.stateWhileFed));
            EXPECT_EQ(intake.feed(b.data(), b.size(), c.stateWhileFed, host), PrinterIntake::Fed::Ok);
        }
        EXPECT_EQ(host.events, c.whileFed);
        host.events.clear();
        intake.stateChanged(c.stateWhileFed, 0, host);
        EXPECT_EQ(host.events, c.onRelease);
        EXPECT_EQ(intake.held(), 0u);
        const FinishedJob job = intake.takeJob();
        EXPECT_EQ(job.bytes, all);
        EXPECT_FALSE(intake.hasJob());
    }
}

TEST(PrinterIntake, HoldRoomAndJobLimit) {
    RecordingHost host;
    PrinterIntake intake(Model::Orva58, {100, 40});
    const Bytes text(30, 'A');
    EXPECT_EQ(intake.feed(text.data(), text.size(), kPaperEnd, host), PrinterIntake::Fed::Ok);
    EXPECT_EQ(intake.room(kPaperEnd), 10u);
    // Still held after the state cleared and before the intake heard of it: the order stays.
    EXPECT_EQ(intake.room(0), 10u);
    EXPECT_EQ(intake.feed(text.data(), 10, kPaperEnd, host), PrinterIntake::Fed::Ok);
    EXPECT_EQ(intake.room(kPaperEnd), 0u);
    intake.stateChanged(kPaperEnd, 0, host);
    EXPECT_EQ(intake.held(), 0u);
    EXPECT_GT(intake.room(0), 1000u);
    // 40 bytes so far: 61 more pass the limit of 100; the job keeps 100 and counts all.
    const Bytes more(61, 'B');
    EXPECT_EQ(intake.feed(more.data(), more.size(), 0, host), PrinterIntake::Fed::OverLimit);
    const FinishedJob job = intake.takeJob();
    EXPECT_EQ(job.bytes.size(), 100u);
    EXPECT_EQ(job.receivedBytes, 101u);
}

TEST(PrinterIntake, AutomaticStatusBackOnEveryChangeOnlyWhenAsked) {
    PrinterIntake intake(Model::Orva80, {1 << 20, 1 << 10});
    RecordingHost host;
    intake.stateChanged(0, kCoverOpen, host);
    EXPECT_TRUE(host.events.empty());
    const Bytes ask = HexBytes("1D 61 0F");
    intake.feed(ask.data(), ask.size(), kCoverOpen, host);
    host.events.clear();
    intake.stateChanged(kCoverOpen, kCoverOpen | kDrawerOpen, host);
    intake.stateChanged(kCoverOpen | kDrawerOpen, kDrawerOpen, host);
    intake.stateChanged(kDrawerOpen, kDrawerOpen | kSilent, host);
        // The request itself waited for the cover and prints once it closed.
    EXPECT_EQ(host.events, (std::vector<std::string>{"send 3C 00 00 00", "send 14 00 00 00", "print 1D 61 0F"}));
    const FinishedJob job = intake.takeJob();
    ASSERT_EQ(job.answers.size(), 3u);
    EXPECT_EQ(job.answers[0].request, "GS a 0F");
    EXPECT_EQ(job.answers[1].request, "state change");
    EXPECT_EQ(job.answers[2].bytes, HexBytes("14 00 00 00"));
}

// The program's own printer: no job kept, nothing held whatever the state, and a host that
// changes a reaction before it is acted on.
TEST(PrinterIntake, WithoutJobOrHoldTheHostReviewsEachReaction) {
    struct ReviewingHost : RecordingHost {
        void review(const uint8_t* b, size_t n, States, Reaction& r) override {
            if (n == 3 && b[0] == 0x10 && b[2] == 5) r.answer = {0x99};
        }
    };
    ReviewingHost host;
    PrinterIntake intake(Model::Orva58, {0, 0, false, false});
    const Bytes bytes = HexBytes("41 10 04 05 10 04 02 1D 28 48 06 00 30 30 31 32 33 34 42");
    EXPECT_GT(intake.room(kCoverOpen), 1000u);
    EXPECT_EQ(intake.feed(bytes.data(), bytes.size(), kCoverOpen, host), PrinterIntake::Fed::Ok);
    EXPECT_EQ(host.events, (std::vector<std::string>{"send 99", "send 16",
                                                     "print 41 10 04 05 10 04 02 1D 28 48 06 00 30 30 31 32 33 34",
                                                     "send 37 22 31 32 33 34 00", "print 42"}));
    EXPECT_EQ(intake.held(), 0u);
    const FinishedJob job = intake.takeJob();
    EXPECT_TRUE(job.bytes.empty());
    EXPECT_TRUE(job.answers.empty());
    EXPECT_EQ(job.receivedBytes, bytes.size());
}

}  // namespace
}  // namespace pellory::vprinter
