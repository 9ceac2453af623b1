// Helpers of the tests about characters: the text a stream prints as the decoding reads it, and
// the Kanji model set for one test.
#pragma once

#include <string>

#include "receipt/characters.h"
#include "receipt/decoding.h"
#include "receipt_test_support.h"

namespace pellory::receipt::test {

// The characters of the stream's text runs, as the decoding shows them.
inline std::string TextOf(const Bytes& stream) {
    std::string text;
    for (const DecodedCommand& c : DecodeCommands(stream.data(), stream.size())) {
        if (c.text) text += c.meaning.substr(1, c.meaning.size() - 2);
    }
    return text;
}

// The Kanji model for one test, put back afterwards.
class KanjiModel {
public:
    explicit KanjiModel(charset::KanjiSystem s) : before_(CurrentKanjiModel()) { SetKanjiModel(s); }
    ~KanjiModel() { SetKanjiModel(before_); }
    KanjiModel(const KanjiModel&) = delete;
    KanjiModel& operator=(const KanjiModel&) = delete;

private:
    charset::KanjiSystem before_;
};

}  // namespace pellory::receipt::test
