#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace soaktest {

// Private settings, state, data and temp folders for one test, put back afterwards.
class PrivateFolders : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "dormane-soak-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"}) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            setenv(name, (root_ + "/" + name).c_str(), 1);
        }
        setenv("DORMANE_LOGIND_BUS_ADDRESS", "none", 0);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    std::string root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace soaktest
