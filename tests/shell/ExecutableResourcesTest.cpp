// The resources that Kelvora.exe carries: its icon, the manifest that asks
// for the common controls' visual styles, and the version record.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/AppDriver.h"

namespace {

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD cbImage;
    WORD id;
};
#pragma pack(pop)

// The bytes of one resource of the executable, or an empty view.
std::string_view ResourceBytes(HMODULE module, const wchar_t* name, const wchar_t* type)
{
    HRSRC resource = FindResourceW(module, name, type);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return {};
    return {static_cast<const char*>(bytes), SizeofResource(module, resource)};
}

class ExecutableResourcesTest : public testing::Test {
protected:
    void SetUp() override
    {
        exe_ = AppDriver::KelvoraExePath();
        module_ = LoadLibraryExW(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_);
    }

    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }

    std::wstring exe_;
    HMODULE module_ = nullptr;
};

TEST_F(ExecutableResourcesTest, IconIsOne32By32ImageOf32Bits)
{
    std::string_view group = ResourceBytes(module_, L"DEFAULT_ICON", RT_GROUP_ICON);
    ASSERT_GE(group.size(), sizeof(IconGroupHeader) + sizeof(IconGroupEntry));
    const auto* header = reinterpret_cast<const IconGroupHeader*>(group.data());
    const auto* entry = reinterpret_cast<const IconGroupEntry*>(group.data() + sizeof(IconGroupHeader));
    EXPECT_EQ(1, header->type);
    ASSERT_EQ(1, header->count);
    EXPECT_EQ(32, entry->width);
    EXPECT_EQ(32, entry->height);
    EXPECT_EQ(32, entry->bitCount);

    std::string_view image = ResourceBytes(module_, MAKEINTRESOURCEW(entry->id), RT_ICON);
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    const auto* bitmap = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
    EXPECT_EQ(32, bitmap->biWidth);
    EXPECT_EQ(64, bitmap->biHeight) << "colour and mask together";
    EXPECT_EQ(32, bitmap->biBitCount);

    HICON icon = static_cast<HICON>(LoadImageW(module_, L"DEFAULT_ICON", IMAGE_ICON, 32, 32, 0));
    EXPECT_NE(nullptr, icon);
    if (icon)
        DestroyIcon(icon);
}

TEST_F(ExecutableResourcesTest, ManifestAsksForCommonControlsSixForX86)
{
    std::string manifest(ResourceBytes(module_, MAKEINTRESOURCEW(1), RT_MANIFEST));
    ASSERT_FALSE(manifest.empty());
    size_t dependency = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(std::string::npos, dependency);
    size_t end = manifest.find("/>", dependency);
    std::string identity = manifest.substr(dependency, end - dependency);
    EXPECT_NE(std::string::npos, identity.find("version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, identity.find("processorArchitecture=\"x86\""));
    EXPECT_NE(std::string::npos, identity.find("publicKeyToken=\"6595b64144ccf1df\""));
}

TEST_F(ExecutableResourcesTest, VersionRecordSaysKelvoraOneZeroZeroZero)
{
    DWORD ignored = 0;
    DWORD cbInfo = GetFileVersionInfoSizeW(exe_.c_str(), &ignored);
    ASSERT_GT(cbInfo, 0u);
    std::string info(cbInfo, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(exe_.c_str(), 0, cbInfo, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &cbFixed));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);

    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT cbTranslation = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &cbTranslation));
    ASSERT_GE(cbTranslation, sizeof(Translation));
    wchar_t query[64];
    wsprintfW(query, L"\\StringFileInfo\\%04x%04x\\ProductName", translation->language, translation->codePage);
    wchar_t* productName = nullptr;
    UINT cchProductName = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&productName), &cchProductName));
    EXPECT_EQ(std::wstring(L"Kelvora"), productName);
}

} // namespace
