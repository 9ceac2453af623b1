// The program's pictures, compiled into the pellory_widgets library from res/pellory.qrc.
// They are drawn by tools/make_resources.py; each has a numeric id by which the rest of the
// program refers to it and a Qt resource path by which it is loaded.
//
// The resources live in a static library, so they must be registered before the first load:
// main() and every Qt test that shows the program's pictures call InitPelloryResources() once,
// right after creating the application object. The widgets of this folder also call it
// themselves before they load a picture, so calling it more than once is harmless.
#pragma once

#include <QIcon>
#include <QPixmap>

// Registers the compiled-in resources with Qt. Idempotent and thread-safe.
void InitPelloryResources();

namespace pellory::widgets {

// Numeric ids.
inline constexpr int kIdBitmapBarcodeSample = 155;
inline constexpr int kIdIconProgram = 165;
inline constexpr int kIdIconLampDark = 166;
inline constexpr int kIdIconLampLit = 167;

// Resource paths.
// 161 x 61 monochrome picture of the UPC-A symbol 0 12345 67890 5 with its digits beneath.
inline constexpr const char* kBitmapBarcodeSample = ":/barcode_sample.png";
// Program icon, a receipt printer: 32 x 32, and a 16 x 16 variant drawn for small sizes.
inline constexpr const char* kIconProgram = ":/icons/pellory.png";
inline constexpr const char* kIconProgramSmall = ":/icons/pellory16.png";
// Status lamps, 16 x 16, identical but for the lamp colour (dark RGB 0,128,0; lit 0,255,0).
inline constexpr const char* kIconLampDark = ":/icons/lamp_dark.png";
inline constexpr const char* kIconLampLit = ":/icons/lamp_lit.png";

// Pixel size of the lamp icons and the colours of their lamp area.
inline constexpr int kLampIconSize = 16;
inline constexpr unsigned kLampDarkRgb = 0x008000;
inline constexpr unsigned kLampLitRgb = 0x00FF00;

// The resource path of a numeric id (the 32 x 32 icon for kIdIconProgram), or nullptr for an
// id that names no picture.
const char* ResourcePath(int id);

// Loads the picture of a numeric id (registering the resources first); a null pixmap for an
// unknown id. Needs a QGuiApplication.
QPixmap LoadResourcePixmap(int id);

// The program icon with both of its sizes, for the window and the About box. Needs a
// QGuiApplication.
QIcon ProgramIcon();

}  // namespace pellory::widgets
