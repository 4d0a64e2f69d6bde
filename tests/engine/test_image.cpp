#include "Status.h"
#include "TestSupport.h"
#include "UpdateManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace dormane;
using dormane::imagebuilder::Descriptor;
using dormane::imagebuilder::ImageSpec;
using testsupport::LogCapture;
using testsupport::TempDir;
using testsupport::WriteImage;

namespace {

ImageSpec SingleImage() {
    // 81 01 B2 34: an image region at 0x40 of 0x1234 bytes.
    ImageSpec spec;
    spec.descriptors = {Descriptor::Bytes(0x81, 0x01, 0xB2, 0x34)};
    spec.chip = 0x6501;
    spec.vid = 0x0D8C;
    spec.pid = 0x0082;
    spec.chipVer = 1;
    spec.fwVer = 0x0803;
    return spec;
}

struct ReadCase {
    const char* name;
    std::function<ImageSpec()> spec;
    int status;
    uint32_t imageStart, imageSize, totalSize;
    // Log lines expected, in order, after the path line ("" ends the list early).
    std::vector<std::string> log;
};

std::vector<ReadCase> ReadCases() {
    return {
        {"SingleImageDescriptor",
         SingleImage,
         status::kSuccess,
         0x40,
         0x1234,
         0x1274,
         {"UpdateManager::CheckMagicWord MagicWord =0x5658 return 1",
          "UpdateManager::ParseEEPROMConfig Image start pos 0x40  Image size 0x1234 FW total size "
          "0x1274"}},
        {"BlockDescriptorAddsSizeAndLargestStart",
         [] {
             auto s = SingleImage();
             s.descriptors.insert(s.descriptors.begin(), Descriptor::Bytes(0x85, 0x10, 0x03, 0x20));
             return s;
         },
         status::kSuccess,
         0x40,
         0x1234,
         0x1A64,
         {"UpdateManager::CheckMagicWord MagicWord =0x5658 return 1",
          "UpdateManager::ParseEEPROMConfig Image start pos 0x40  Image size 0x1234 FW total size "
          "0x1A64"}},
        {"Bit7ClearIsIgnored",
         [] {
             auto s = SingleImage();
             s.descriptors.insert(s.descriptors.begin(), Descriptor::Bytes(0x05, 0x10, 0x03, 0x20));
             return s;
         },
         status::kSuccess,
         0x40,
         0x1234,
         0x1274,
         {}},
        {"LaterImageDescriptorWins",
         [] {
             auto s = SingleImage();
             s.descriptors.insert(s.descriptors.begin(), Descriptor::Image(0x1000, 0x100));
             return s;
         },
         // sizes 0x100 + 0x1234, largest start 0x1000
         status::kSuccess,
         0x40,
         0x1234,
         0x2334,
         {}},
        {"EmptyList",
         [] {
             ImageSpec s;
             s.descriptors = {Descriptor::Bytes(0x7F, 0x81, 0x01, 0xB2)};
             s.fileSize = 64; // TotalSize is 0: keep the header in the file
             return s;
         },
         status::kInvalidImage,
         0,
         0,
         0,
         {"UpdateManager::CheckMagicWord MagicWord =0x5658 return 1",
          "UpdateManager::ParseEEPROMConfig Image start pos 0x0  Image size 0x0 FW total size "
          "0x0"}},
        {"ImageStartZero",
         [] {
             ImageSpec s;
             s.descriptors = {Descriptor::Bytes(0x80, 0x03, 0xB2, 0x34)};
             return s;
         },
         status::kInvalidImage,
         0,
         0x3234,
         0x3234,
         {}},
        {"SwappedMagicWord",
         [] {
             auto s = SingleImage();
             s.magic = {'X', 'V'};
             return s;
         },
         status::kInvalidImage,
         0,
         0,
         0,
         {"UpdateManager::CheckMagicWord MagicWord =0x5856 return 0"}},
        {"WrongChecksum",
         [] {
             auto s = SingleImage();
             s.checksumOverride = 0x00;
             s.fillSeed = 7;
             return s;
         },
         status::kInvalidImage,
         0x40,
         0x1234,
         0x1274,
         {}},
        {"ChipIdNot65",
         [] {
             auto s = SingleImage();
             s.chip = 0x6401;
             return s;
         },
         status::kInvalidImage,
         0x40,
         0x1234,
         0x1274,
         {}},
        {"DescriptorAt60HasOnlyItsFirstByte",
         [] {
             // Image at 12, eleven ignored descriptors, then 81 FF BF FF at 60: read as
             // 81 00 00 00, a block at 0x100 of size 0 (were BF read, it would be an image).
             ImageSpec s;
             s.descriptors = {Descriptor::Image(0x40, 0x200)};
             for (int i = 0; i < 11; ++i)
                 s.descriptors.push_back(Descriptor::Bytes(0x01, 0x02, 0x03, 0x04));
             s.descriptors.push_back(Descriptor::Bytes(0x81, 0xFF, 0xBF, 0xFF));
             s.terminateList = false;
             return s;
         },
         status::kSuccess,
         0x40,
         0x200,
         0x300,
         {}},
        {"TruncatedAfterTheImageRegion",
         [] {
             // Image ends at 0x140, a block at 0x200 stretches TotalSize to 0x310: the file
             // stops at 0x140. Its image region is whole and sums right, but the bytes up to
             // 0x310 would be burned too, and zeros that are not in the file are no image.
             ImageSpec s;
             s.descriptors = {Descriptor::Image(0x40, 0x100), Descriptor::Block(0x200, 0x10)};
             s.fileSize = 0x140;
             return s;
         },
         status::kInvalidImage,
         0x40,
         0x100,
         0x310,
         {"UpdateManager::CheckMagicWord MagicWord =0x5658 return 1",
          "UpdateManager::ParseEEPROMConfig Image start pos 0x40  Image size 0x100 FW total size "
          "0x310",
          "UpdateManager::ReadFWInfoFile file size 0x140 shorter than FW total size 0x310"}},
        {"TruncatedInsideTheImageRegion",
         [] {
             auto s = SingleImage();
             s.fileSize = 0x800;
             return s;
         },
         status::kInvalidImage,
         0x40,
         0x1234,
         0x1274,
         {"UpdateManager::CheckMagicWord MagicWord =0x5658 return 1",
          "UpdateManager::ParseEEPROMConfig Image start pos 0x40  Image size 0x1234 FW total size "
          "0x1274",
          "UpdateManager::ReadFWInfoFile file size 0x800 shorter than FW total size 0x1274"}},
        {"OneByteShort",
         [] {
             auto s = SingleImage();
             s.fileSize = 0x1273;
             return s;
         },
         status::kInvalidImage,
         0x40,
         0x1234,
         0x1274,
         {"UpdateManager::CheckMagicWord MagicWord =0x5658 return 1",
          "UpdateManager::ParseEEPROMConfig Image start pos 0x40  Image size 0x1234 FW total size "
          "0x1274",
          "UpdateManager::ReadFWInfoFile file size 0x1273 shorter than FW total size 0x1274"}},
        {"BytesAfterTotalSizeIgnored",
         [] {
             auto s = SingleImage();
             s.fileSize = 0x3000;
             return s;
         },
         status::kSuccess,
         0x40,
         0x1234,
         0x1274,
         {}},
        {"ShorterThanTheHeader",
         [] {
             auto s = SingleImage();
             s.fileSize = 14; // the descriptor is cut after two bytes: 81 01 00 00
             return s;
         },
         status::kInvalidImage,
         0,
         0,
         0x101,
         {}},
    };
}

class ReadFWInfoFileCases : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadFWInfoFileCases, ChecksAndLogs) {
    const ReadCase& c = GetParam();
    TempDir dir;
    const auto bytes = imagebuilder::Build(c.spec());
    const std::string path = WriteImage(dir, "image.bin", bytes);
    LogCapture log;
    UpdateManager manager;
    FWInfo info;

    EXPECT_EQ(manager.ReadFWInfoFile(path.c_str(), &info), c.status);
    EXPECT_EQ(info.ImageStart, c.imageStart);
    EXPECT_EQ(info.ImageSize, c.imageSize);
    EXPECT_EQ(info.TotalSize, c.totalSize);

    const auto lines = log.Messages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "UpdateManager::ReadFWInfoFile FW file path " + path);
    for (size_t i = 0; i < c.log.size(); ++i) {
        ASSERT_LT(i + 1, lines.size());
        EXPECT_EQ(lines[i + 1], c.log[i]);
    }
    if (c.status == status::kSuccess) {
        ASSERT_TRUE(info.Data);
        // The record holds the file's first TotalSize bytes, every one of them from the file.
        ASSERT_GE(bytes.size(), info.TotalSize);
        for (uint32_t i = 0; i < info.TotalSize; ++i)
            ASSERT_EQ(info.Data[i], bytes[i]) << "offset " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, ReadFWInfoFileCases, ::testing::ValuesIn(ReadCases()),
                         [](const auto& info) { return info.param.name; });

TEST(ReadFWInfoFile, ValidImageFillsTheExtensionFieldsAndLogsEveryCheck) {
    TempDir dir;
    const auto bytes = imagebuilder::Build(SingleImage());
    const std::string path = WriteImage(dir, "image.bin", bytes);
    LogCapture log;
    UpdateManager manager;
    FWInfo info;
    ASSERT_EQ(manager.ReadFWInfoFile(path.c_str(), &info), status::kSuccess);
    // Extension block at 0x1267..0x1272, checksum byte at 0x1273.
    EXPECT_EQ(info.CHIP, 0x6501);
    EXPECT_EQ(info.VID, 0x0D8C);
    EXPECT_EQ(info.PID, 0x0082);
    EXPECT_EQ(info.ChipVer, 1);
    EXPECT_EQ(info.FWVer, 0x0803);
    EXPECT_EQ(bytes[0x1267], 0x65);
    EXPECT_EQ(info.InfoCheckSum, bytes[0x1273]);
    uint8_t sum = 0;
    for (uint32_t i = 0x40; i < 0x1274; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    EXPECT_EQ(sum, 0) << "the region with its checksum byte adds up to zero";

    char checksum[96];
    std::snprintf(checksum, sizeof checksum,
                  "UpdateManager::VerifyCheckSum CalcCheckSum =0x%X InfoCheckSum =0x%X ",
                  bytes[0x1273], bytes[0x1273]);
    const auto lines = log.Messages();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], checksum);
    EXPECT_EQ(lines[4], "UpdateManager::ReadExtInfo CHIP =0x6501 VID =0xD8C PID =0x82 ChipVer =0x1 "
                        "FWVer =0x803 return 1");
}

TEST(ReadFWInfoFile, ForeignChipIdIsStoredAndLoggedButRefused) {
    TempDir dir;
    auto spec = SingleImage();
    spec.chip = 0x1234;
    const std::string path = WriteImage(dir, "image.bin", imagebuilder::Build(spec));
    LogCapture log;
    UpdateManager manager;
    FWInfo info;
    EXPECT_EQ(manager.ReadFWInfoFile(path.c_str(), &info), status::kInvalidImage);
    EXPECT_EQ(info.CHIP, 0x1234);
    EXPECT_EQ(log.Matching("UpdateManager::ReadExtInfo").back(),
              "UpdateManager::ReadExtInfo CHIP =0x1234 VID =0xD8C PID =0x82 ChipVer =0x1 FWVer "
              "=0x803 return 0");
}

TEST(ReadFWInfoFile, MissingFileOrNoFileLeavesTheRecordAlone) {
    TempDir dir;
    LogCapture log;
    UpdateManager manager;
    FWInfo info;
    info.TotalSize = 77;
    info.ChipVer = 1;
    EXPECT_EQ(manager.ReadFWInfoFile((dir / "missing.bin").c_str(), &info),
              status::kFileOpenFailed);
    EXPECT_EQ(manager.ReadFWInfoFile(dir.path().c_str(), &info), status::kFileOpenFailed)
        << "a folder is no firmware file";
    EXPECT_EQ(info.TotalSize, 77u);
    EXPECT_EQ(info.ChipVer, 1);
    EXPECT_TRUE(log.Matching("UpdateManager::CheckMagicWord").empty());

    EXPECT_EQ(manager.ReadFWInfoFile("", &info), status::kFailure);
    EXPECT_EQ(manager.ReadFWInfoFile(nullptr, &info), status::kFailure);
    EXPECT_EQ(manager.ReadFWInfoFile((dir / "x").c_str(), nullptr), status::kFailure);
}

TEST(ImageChecks, RecordOperationsRefuseEmptyRecords) {
    LogCapture log;
    UpdateManager manager;
    const uint8_t header[kFWHeaderSize] = {0x56, 0x58};
    EXPECT_FALSE(manager.ParseEEPROMConfig(nullptr, header));
    EXPECT_TRUE(log.Messages().empty()) << "a null record gives no line";

    FWInfo empty;
    empty.InfoCheckSum = 0x5A;
    EXPECT_FALSE(manager.VerifyCheckSum(&empty));
    EXPECT_EQ(log.Messages().back(),
              "UpdateManager::VerifyCheckSum CalcCheckSum =0x0 InfoCheckSum =0x5A ");
    empty.CHIP = 0x6501;
    EXPECT_FALSE(manager.ReadExtInfo(&empty));
    EXPECT_EQ(empty.CHIP, 0x6501) << "fields keep their values without data";
}

TEST(ImageChecks, ChecksumOfAllZeroRegionIsZero) {
    UpdateManager manager;
    FWInfo info;
    info.ImageStart = 4;
    info.ImageSize = 8;
    info.TotalSize = 12;
    info.Data.reset(new uint8_t[12]());
    EXPECT_TRUE(manager.VerifyCheckSum(&info));
    info.Data[11] = 1;
    EXPECT_FALSE(manager.VerifyCheckSum(&info));
}

TEST(ImageChecks, ExtensionNeedsThirteenBytes) {
    UpdateManager manager;
    FWInfo info;
    info.ImageStart = 0;
    info.ImageSize = 12;
    info.TotalSize = 12;
    info.Data.reset(new uint8_t[12]());
    info.Data[0] = 0x65;
    EXPECT_FALSE(manager.ReadExtInfo(&info));
}

TEST(SampleImages, BothBuildsAreValidAndFitSixteenKilobytes) {
    for (uint16_t fw : {uint16_t{0x0813}, uint16_t{0x0803}}) {
        TempDir dir;
        const std::string path = WriteImage(dir, "s.bin", imagebuilder::BuildSampleImage(fw));
        UpdateManager manager;
        FWInfo info;
        ASSERT_EQ(manager.ReadFWInfoFile(path.c_str(), &info), status::kSuccess);
        EXPECT_EQ(info.FWVer, fw);
        EXPECT_EQ(info.VID, 0x0D8C);
        EXPECT_EQ(info.PID, 0x0082);
        EXPECT_EQ(info.CHIP, 0x6501);
        EXPECT_EQ(info.ChipVer, 0);
        EXPECT_LE(info.TotalSize, 16384u);

        const std::string broken =
            WriteImage(dir, "b.bin", imagebuilder::BuildSampleImageBroken(fw));
        EXPECT_EQ(manager.ReadFWInfoFile(broken.c_str(), &info), status::kInvalidImage);
    }
}

} // namespace
