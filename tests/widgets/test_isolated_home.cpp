// Tests run in a home of their own inside the build folder: whatever Qt or a test writes (the file
// dialogs' last folders, settings, caches, temporary folders) lands there, never in the real
// user's home or the shared temporary folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "widgets/qt_test_app.h"

namespace {

namespace fs = std::filesystem;

// The test's own root, as the test set-up names it; empty when the test runs without one.
std::string TestRoot() {
    const char* root = std::getenv("PELLORY_TEST_ROOT");
    return root ? fs::weakly_canonical(root).string() : std::string();
}

bool Inside(const QString& path, const std::string& root) {
    if (root.empty() || path.isEmpty()) return false;
    const std::string p = fs::weakly_canonical(path.toStdString()).string();
    return p == root || p.rfind(root + "/", 0) == 0;
}

}  // namespace

TEST(IsolatedHome, EveryWritableStandardLocationAndTheTemporaryFolderLieInTheTestRoot) {
    const std::string root = TestRoot();
    ASSERT_FALSE(root.empty()) << "PELLORY_TEST_ROOT is not set";
    EXPECT_TRUE(Inside(QDir::homePath(), root)) << QDir::homePath().toStdString();
    EXPECT_TRUE(Inside(QDir::tempPath(), root)) << QDir::tempPath().toStdString();
    EXPECT_TRUE(Inside(QString::fromStdString(fs::temp_directory_path().string()), root));
    for (const auto location :
         {QStandardPaths::HomeLocation, QStandardPaths::ConfigLocation, QStandardPaths::GenericConfigLocation,
          QStandardPaths::AppDataLocation, QStandardPaths::GenericDataLocation, QStandardPaths::CacheLocation,
          QStandardPaths::GenericCacheLocation, QStandardPaths::RuntimeLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        EXPECT_TRUE(Inside(path, root)) << int(location) << ": " << path.toStdString();
    }
}

TEST(IsolatedHome, QtSettingsAndTemporaryFoldersAreWrittenInsideTheTestRoot) {
    const std::string root = TestRoot();
    ASSERT_FALSE(root.empty());
    // Where the file dialogs keep their last folder.
    {
        QSettings dialogs(QSettings::UserScope, QStringLiteral("QtProject"));
        dialogs.setValue(QStringLiteral("pellory-test/probe"), 1);
        dialogs.sync();
        EXPECT_EQ(dialogs.status(), QSettings::NoError);
        EXPECT_TRUE(Inside(dialogs.fileName(), root)) << dialogs.fileName().toStdString();
        EXPECT_TRUE(QFileInfo::exists(dialogs.fileName()));
        dialogs.remove(QStringLiteral("pellory-test"));
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(Inside(dir.path(), root)) << dir.path().toStdString();
}
