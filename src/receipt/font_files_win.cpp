#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "receipt/font_files.h"

namespace pellory::receipt {

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// The folder of the running program, with its final separator; empty if it cannot be had.
std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);  // cut short: a longer buffer
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// FreeType reads the file through these, as FreeType's own stream over the C library does, but
// on a file opened by its wide name (FreeType's fopen takes the system's code page).
unsigned long ReadFontBytes(FT_Stream stream, unsigned long offset, unsigned char* buffer, unsigned long count) {
    FILE* file = static_cast<FILE*>(stream->descriptor.pointer);
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return count == 0 ? 1 : 0;  // 0 bytes: the seek
    return count == 0 ? 0 : static_cast<unsigned long>(std::fread(buffer, 1, count, file));
}

void CloseFontFile(FT_Stream stream) {
    std::fclose(static_cast<FILE*>(stream->descriptor.pointer));
    delete stream;
}

}  // namespace

std::string FontFile(const std::string& systemPath) {
    const size_t slash = systemPath.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? systemPath : systemPath.substr(slash + 1);
    return Utf8(ProgramFolder() + L"fonts\\" + Wide(name));
}

std::string EnvironmentFontFile(const char* variable) {
    const wchar_t* value = _wgetenv(Wide(variable).c_str());
    return value ? Utf8(value) : std::string();
}

FT_Error OpenFontFace(FT_Library library, const std::string& path, FT_Face* face) {
    FILE* file = _wfopen(Wide(path).c_str(), L"rb");
    if (!file) return FT_Err_Cannot_Open_Resource;
    if (std::fseek(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        return FT_Err_Cannot_Open_Stream;
    }
    const long size = std::ftell(file);
    if (size <= 0) {
        std::fclose(file);
        return FT_Err_Cannot_Open_Stream;
    }
    // FreeType keeps the stream with the face and calls CloseFontFile when it is done with it (with
    // the face, or at once when the file is no font).
    auto* stream = new FT_StreamRec{};
    stream->size = static_cast<unsigned long>(size);
    stream->descriptor.pointer = file;
    stream->read = ReadFontBytes;
    stream->close = CloseFontFile;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = stream;
    return FT_Open_Face(library, &args, 0, face);
}

}  // namespace pellory::receipt
