// Where the receipt renderer's font files lie, and how one is opened. On Linux they are the
// system's, at the paths the build gives; on Windows the build puts the same files in the folder
// "fonts" beside the program, and each is looked for there by its file name.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>

namespace pellory::receipt {

// The file to open for the font a Linux system keeps at `systemPath`: that path on Linux; on
// Windows <folder of the running program>\fonts\<file name of systemPath>, in UTF-8.
std::string FontFile(const std::string& systemPath);

// The font file an environment variable names (PELLORY_RECEIPT_FONT), in UTF-8; empty when it is
// not set or empty.
std::string EnvironmentFontFile(const char* variable);

// Opens face 0 of the font file at `path` (UTF-8, whatever the system's code page) as
// FT_New_Face does, and returns FreeType's error code; *face is set on success only. The face
// is released with FT_Done_Face, which also closes the file.
FT_Error OpenFontFace(FT_Library library, const std::string& path, FT_Face* face);

}  // namespace pellory::receipt
