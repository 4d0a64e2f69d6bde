// The resources the Win32 wizard carries: each found by type and number, at the size and in
// the form its users expect.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct BitmapCase {
    int id;
    int width;
    int height;
    DWORD bytes; // a 40-byte header and padded 24-bit rows
};

class Bitmap : public testing::TestWithParam<BitmapCase> {};

TEST_P(Bitmap, FoundAtItsSize) {
    const BitmapCase& c = GetParam();
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(c.id), MAKEINTRESOURCEW(2));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(SizeofResource(module, info), c.bytes);
    const auto* header =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, info)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biBitCount, 24);
    EXPECT_EQ(header->biCompression, DWORD{BI_RGB});
    EXPECT_GT(header->biHeight, 0) << "bottom-up rows";
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(c.id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    ASSERT_NE(bitmap, nullptr);
    BITMAP bm{};
    GetObjectW(bitmap, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, c.width);
    EXPECT_EQ(bm.bmHeight, c.height);
    DeleteObject(bitmap);
}

INSTANTIATE_TEST_SUITE_P(
    Win32, Bitmap,
    testing::Values(BitmapCase{2009, 47, 16, 2344}, BitmapCase{241, 140, 32, 13480},
                    BitmapCase{2042, 11, 11, 436}, BitmapCase{235, 240, 223, 160600},
                    BitmapCase{2010, 423, 192, 244264}, BitmapCase{2015, 23, 21, 1552},
                    BitmapCase{236, 341, 136, 139304}, BitmapCase{225, 177, 177, 94204},
                    BitmapCase{2012, 177, 177, 94204}, BitmapCase{227, 179, 179, 96700},
                    BitmapCase{2013, 179, 179, 96700}),
    [](const testing::TestParamInfo<BitmapCase>& info) {
        return "IDB" + std::to_string(info.param.id);
    });

std::string ResourceText(HMODULE module, HRSRC info) {
    const auto* p = static_cast<const char*>(LockResource(LoadResource(module, info)));
    return p != nullptr ? std::string(p, SizeofResource(module, info)) : std::string();
}

// The animation is looked up by a type name in either case.
TEST(Win32Resources, BusyAnimationIsAGif) {
    const HMODULE module = GetModuleHandleW(nullptr);
    for (const wchar_t* type : {L"GIF", L"gif"}) {
        HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(232), type);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(ResourceText(module, info).substr(0, 6), "GIF89a");
    }
}

TEST(Win32Resources, HandCursorPointsWithItsFingerTip) {
    const HMODULE module = GetModuleHandleW(nullptr);
    ASSERT_NE(FindResourceW(module, MAKEINTRESOURCEW(3001), MAKEINTRESOURCEW(12)), nullptr)
        << "cursor group";
    HCURSOR cursor = static_cast<HCURSOR>(
        LoadImageW(module, MAKEINTRESOURCEW(3001), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
    ASSERT_NE(cursor, nullptr);
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(cursor, &ii));
    EXPECT_EQ(ii.xHotspot, 5u);
    EXPECT_EQ(ii.yHotspot, 0u);
    BITMAP mask{};
    GetObjectW(ii.hbmMask, sizeof(mask), &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    EXPECT_EQ(ii.hbmColor, nullptr) << "monochrome";
    DeleteObject(ii.hbmMask);
    DestroyCursor(cursor);
}

// Icon group 201: 13 images, 16 to 256 pixels.
TEST(Win32Resources, IconGroupHoldsThirteenImages) {
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(201), MAKEINTRESOURCEW(14));
    ASSERT_NE(info, nullptr);
    const auto* dir = static_cast<const WORD*>(LockResource(LoadResource(module, info)));
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(dir[1], 1) << "icons";
    EXPECT_EQ(dir[2], 13);
    HICON big =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(201), IMAGE_ICON, 48, 48, 0));
    EXPECT_NE(big, nullptr);
    DestroyIcon(big);
}

TEST(Win32Resources, VersionRecordIsOnePointZero) {
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    ASSERT_NE(info, nullptr);
    const DWORD size = SizeofResource(module, info);
    // VerQueryValue wants a copy it may write to.
    std::string copy(static_cast<const char*>(LockResource(LoadResource(module, info))), size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &len));
    ASSERT_GE(len, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200) << "Unicode";
}

TEST(Win32Resources, ManifestDeclaresDpiAwareness) {
    const HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(info, nullptr);
    const std::string manifest = ResourceText(module, info);
    EXPECT_NE(manifest.find("<dpiAware"), std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    EXPECT_EQ(manifest.find("requestedExecutionLevel"), std::string::npos);
}

} // namespace
