#include "widgets/resources.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE declares the generated registration function in the enclosing namespace, so
// it has to be used in the global one (an unnamed namespace would give it internal linkage).
static void RegisterCompiledResources() { Q_INIT_RESOURCE(pellory); }

void InitPelloryResources() {
    static std::once_flag once;
    std::call_once(once, RegisterCompiledResources);
}

namespace pellory::widgets {

const char* ResourcePath(int id) {
    switch (id) {
        case kIdBitmapBarcodeSample:
            return kBitmapBarcodeSample;
        case kIdIconProgram:
            return kIconProgram;
        case kIdIconLampDark:
            return kIconLampDark;
        case kIdIconLampLit:
            return kIconLampLit;
        default:
            return nullptr;
    }
}

QPixmap LoadResourcePixmap(int id) {
    InitPelloryResources();
    const char* path = ResourcePath(id);
    QPixmap pixmap;
    if (path != nullptr) {
        pixmap.load(QString::fromLatin1(path));  // goes through QPixmapCache
    }
    return pixmap;
}

QIcon ProgramIcon() {
    InitPelloryResources();
    QIcon icon;
    icon.addFile(QString::fromLatin1(kIconProgram), QSize(32, 32));
    icon.addFile(QString::fromLatin1(kIconProgramSmall), QSize(16, 16));
    return icon;
}

}  // namespace pellory::widgets
