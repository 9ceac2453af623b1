#include "receipt/font_files.h"

#include <cstdlib>

namespace pellory::receipt {

std::string FontFile(const std::string& systemPath) { return systemPath; }

std::string EnvironmentFontFile(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? std::string(value) : std::string();
}

FT_Error OpenFontFace(FT_Library library, const std::string& path, FT_Face* face) {
    return FT_New_Face(library, path.c_str(), 0, face);
}

}  // namespace pellory::receipt
