#pragma once

#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace soaktest {

// Private settings, state, data and temp folders for one test, put back afterwards.
class PrivateFolders : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::make_unique<dormane::test::TempDir>();
        ASSERT_FALSE(dir_->Path().empty());
        root_ = dir_->Path();
        folders_ = std::make_unique<dormane::test::PrivateUserFolders>(root_);
        if (!dormane::test::GetEnv("DORMANE_LOGIND_BUS_ADDRESS"))
            dormane::test::SetEnv("DORMANE_LOGIND_BUS_ADDRESS", "none");
    }
    void TearDown() override {
        folders_.reset();
        dir_.reset();
    }

    std::string root_;
    std::unique_ptr<dormane::test::TempDir> dir_;
    std::unique_ptr<dormane::test::PrivateUserFolders> folders_;
};

} // namespace soaktest
