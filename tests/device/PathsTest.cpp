#include "Paths.h"

#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace dormane {
namespace {

using test::ScopedEnv;
using test::TempDir;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode;
}

struct PathCase {
    const char* name;
    const char* xdg;      // relative to the temp folder when it starts with '/'; null: unset
    const char* expected; // the local application-data folder, relative to the temp folder
};

class LocalAppPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(LocalAppPaths, FollowTheDataHomeAndCreateTempPrivately) {
    const PathCase& c = GetParam();
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string home = dir.Path() + "/home";
    ScopedEnv homeEnv("HOME", home.c_str());
    std::string xdg;
    if (c.xdg != nullptr)
        xdg = c.xdg[0] == '/' ? dir.Path() + c.xdg : c.xdg;
    ScopedEnv xdgEnv("XDG_DATA_HOME", c.xdg != nullptr ? xdg.c_str() : nullptr);

    ASSERT_EQ(InitLocalAppPaths(), 1);
    const std::string expected = dir.Path() + c.expected;
    EXPECT_EQ(g_strLocalAppData, expected);
    EXPECT_EQ(g_strFirmwarePath, expected + "/Temp/VanteqUpdate.bin");
    EXPECT_EQ(TempFolder(), expected + "/Temp");
    const mode_t mode = ModeOf(expected + "/Temp");
    EXPECT_TRUE(S_ISDIR(mode));
    EXPECT_EQ(mode & 0777, 0700u);
}

const PathCase kPathCases[] = {
    {"DataHome", "/data", "/data"},
    {"DataHomeWithTrailingSlashes", "/data//", "/data"},
    {"MissingFoldersAboveAreMade", "/a/b/c", "/a/b/c"},
    {"UnsetFallsBackToHome", nullptr, "/home/.local/share"},
    {"EmptyFallsBackToHome", "", "/home/.local/share"},
    {"RelativeIsIgnored", "relative/data", "/home/.local/share"},
};

INSTANTIATE_TEST_SUITE_P(Table, LocalAppPaths, ::testing::ValuesIn(kPathCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LocalAppPathsFailure, TempOccupiedByAFileFails) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    test::WriteFileBytes(dir.Path() + "/Temp", "not a folder");
    ScopedEnv xdgEnv("XDG_DATA_HOME", dir.Path().c_str());
    EXPECT_EQ(InitLocalAppPaths(), 0);
    // The paths are still known, so a later download reports its own failure.
    EXPECT_EQ(g_strFirmwarePath, dir.Path() + "/Temp/VanteqUpdate.bin");
}

} // namespace
} // namespace dormane
