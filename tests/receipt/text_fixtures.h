// Helpers of the tests about characters: the text a stream prints as the decoding reads it, the
// Kanji model set for one test, and Kanji compared with their glyphs.
#pragma once

#include <string>
#include <vector>

#include "receipt/characters.h"
#include "receipt/decoding.h"
#include "receipt/glyphs.h"
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

// For each character of `text`, the dots of the top line of `p` that differ from its Font1 Kanji
// glyph (two cells, 24 dots a character, from the left edge): 0 where it is drawn as that glyph.
inline std::vector<int> DotsOffTheKanjiGlyphs(const Paper& p, const std::u32string& text) {
    std::vector<int> off;
    for (size_t k = 0; k < text.size(); ++k) {
        const Bitmap& g = PlainGlyph(0, text[k], 2);
        int differing = 0;
        for (int y = 0; y < g.height; ++y) {
            for (int x = 0; x < g.width; ++x) differing += g.get(x, y) != p.dot(static_cast<int>(24 * k) + x, y);
        }
        off.push_back(differing);
    }
    return off;
}

}  // namespace pellory::receipt::test
