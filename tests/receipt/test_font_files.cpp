// The renderer's font files: each where the system keeps it (on Windows, in the folder "fonts"
// beside the program, where the build puts them), opened by FreeType as the font it should be,
// also from a folder whose name the system's code page cannot spell; a missing file or one that
// is no font opens nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "receipt/font_files.h"

#ifdef _WIN32
#include <QCoreApplication>
#endif

namespace pellory::receipt {
namespace {

namespace fs = std::filesystem;

struct FontCase {
    const char* systemPath;  // where a Linux system keeps it, as the renderer names it
    const char* family;      // FreeType's family name of its first face
};

constexpr FontCase kFonts[] = {
    {"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", "DejaVu Sans Mono"},
    {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "DejaVu Sans"},
    {"/usr/share/fonts/truetype/tlwg/TlwgMono.ttf", "Tlwg Mono"},
    {"/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", "WenQuanYi Zen Hei"},
};

// Paths to and from UTF-8 (std::filesystem speaks char8_t for it).
fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
std::string Utf8Of(const fs::path& path) {
    const std::u8string u = path.u8string();
    return std::string(u.begin(), u.end());
}

// Where the file of a font is expected: Linux's path, or beside the running program on Windows
// (whose folder Qt finds here, not the renderer's code).
fs::path ExpectedFile(const char* systemPath) {
#ifdef _WIN32
    int argc = 1;
    char name[] = "receipt_test_font_files";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    return PathOf(QCoreApplication::applicationDirPath().toStdString()) / "fonts" / fs::path(systemPath).filename();
#else
    return systemPath;
#endif
}

class FontFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(FT_Init_FreeType(&library_), 0); }
    void TearDown() override { FT_Done_FreeType(library_); }

    // FreeType's family name of the first face of the file, or why it did not open.
    std::string FamilyOf(const std::string& path) {
        FT_Face face = nullptr;
        const FT_Error e = OpenFontFace(library_, path, &face);
        if (e != 0) return "error " + std::to_string(e) + (face ? " with a face" : "");
        std::string family = face->family_name ? face->family_name : "(none)";
        FT_Done_Face(face);
        return family;
    }

    FT_Library library_ = nullptr;
};

TEST_F(FontFiles, EachFontWhereTheSystemKeepsIt) {
    for (const FontCase& f : kFonts) {
        const std::string file = FontFile(f.systemPath);
        EXPECT_EQ(PathOf(file), ExpectedFile(f.systemPath)) << f.systemPath;
        EXPECT_EQ(FamilyOf(file), f.family) << file;
    }
}

TEST_F(FontFiles, OpensFromAFolderTheCodePageCannotSpell) {
    const fs::path folder = fs::temp_directory_path() / PathOf("Schrift \u00FC \u5B57 \u0416");
    fs::create_directories(folder);
    const std::string source = FontFile(kFonts[0].systemPath);
    const fs::path copy = folder / "DejaVuSansMono.ttf";
    fs::copy_file(PathOf(source), copy, fs::copy_options::overwrite_existing);
    const fs::path notAFont = folder / "not-a-font.ttf";
    std::ofstream(notAFont) << "These bytes are no font.\n";

    const struct {
        fs::path file;
        bool opens;
    } cases[] = {
        {copy, true},
        {notAFont, false},
        {folder / "missing.ttf", false},
    };
    for (const auto& c : cases) {
        const std::string family = FamilyOf(Utf8Of(c.file));
        if (c.opens) {
            EXPECT_EQ(family, kFonts[0].family) << c.file;
        } else {
            EXPECT_EQ(family.rfind("error ", 0), 0u) << c.file << ": " << family;
            EXPECT_EQ(family.find("with a face"), std::string::npos) << c.file;
        }
    }
    fs::remove_all(folder);
}

}  // namespace
}  // namespace pellory::receipt
