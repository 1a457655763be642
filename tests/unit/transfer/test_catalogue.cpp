// The catalogue rows, the supported test, the carried images' names and sizes, and
// the lookup of images in the data folders.
#include "transfer/catalogue.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace tarsel;

TEST(Catalogue, RowsAndGroups)
{
    EXPECT_STREQ(DownloadItemAt(1).Name, "CP437");
    EXPECT_STREQ(DownloadItemAt(1).FileName, "437_80x40.bin");
    EXPECT_STREQ(DownloadItemAt(27).Name, "mini_CP437");
    EXPECT_STREQ(DownloadItemAt(27).FlashAddress, "0x002A3000");
    EXPECT_STREQ(DownloadItemAt(76).Name, "mini_RUSSIA");
    EXPECT_STREQ(DownloadItemAt(78).FlashAddress, "0x00F43000");
    EXPECT_STREQ(DownloadItemAt(80).FileName, "P1.jpg");
    EXPECT_STREQ(DownloadItemAt(90).FileName, "Guest.jpg");
    EXPECT_STREQ(DownloadItemAt(93).Name, "firmware");
    EXPECT_EQ(FlashAddressHex(23), "0047E000");
    // Names and file names are unique; flash addresses too, apart from "none" and 0.
    std::set<std::string> names, files, addresses;
    for (int p = 1; p <= kCatalogueSize; ++p) {
        names.insert(DownloadItemAt(p).Name);
        files.insert(DownloadItemAt(p).FileName);
        addresses.insert(DownloadItemAt(p).FlashAddress);
    }
    EXPECT_EQ(names.size(), 93u);
    EXPECT_EQ(files.size(), 93u);
    EXPECT_EQ(addresses.size(), 93u - 4u - 1u);
}

TEST(Catalogue, SupportedTestAndResourceNames)
{
    std::vector<int> unsupported;
    for (int p = 1; p <= kCatalogueSize; ++p)
        if (!IsItemSupported(p, 0))
            unsupported.push_back(p);
    EXPECT_EQ(unsupported, (std::vector<int>{2, 17, 90, 91, 92}));
    for (int model : {1, 2, 4})
        EXPECT_FALSE(IsItemSupported(92, model));
    for (int model : {3, 5, 6})
        for (int p = 1; p <= kCatalogueSize; ++p)
            EXPECT_TRUE(IsItemSupported(p, model));

    EXPECT_EQ(ResourceName(27, 0), "mini_CP437_480x272");
    EXPECT_EQ(ResourceName(2, 3), "CP437_40x40_800x480");
    EXPECT_EQ(ResourceName(92, 1), "big52gbk");
    EXPECT_EQ(ResourceName(80, 0), "");
    EXPECT_EQ(ResourceName(93, 2), "KT310II");
    EXPECT_EQ(ResourceName(91, 3), "KT310II");
    EXPECT_EQ(FirmwareResourceName(4), "KT710II");
    EXPECT_EQ(FirmwareResourceName(6), "KT710II");
    EXPECT_EQ(FirmwareResourceName(5), "KT310II");
}

TEST(Catalogue, PackSizes)
{
    EXPECT_EQ(FontImageSize(1, true), 102400u);
    EXPECT_EQ(FontImageSize(1, false), 36864u);
    EXPECT_EQ(FontImageSize(27, false), 16384u);
    EXPECT_EQ(FontImageSize(51, true), 4800u);
    EXPECT_EQ(FontImageSize(76, false), 768u);
    EXPECT_EQ(FontImageSize(17, false), 0u);
    const auto pack = ResourcePackImages();
    EXPECT_EQ(pack.size(), 74u + 76u + 2u); // 150 font images, big52gbk, firmware
}

namespace {

struct ResourceFolders : ::testing::Test {
    std::filesystem::path root;
    void SetUp() override
    {
        root = std::filesystem::temp_directory_path() /
               ("tarsel-res-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "a");
        std::filesystem::create_directories(root / "home/tarsel/resources");
        setenv("XDG_DATA_HOME", (root / "home").c_str(), 1);
        setenv("XDG_DATA_DIRS", (root / "d1").string().append(":").append((root / "d2").string()).c_str(), 1);
        unsetenv("TARSEL_RESOURCE_DIR");
        SetResourceFolderOverride({(root / "a").string()});
    }
    void TearDown() override
    {
        SetResourceFolderOverride({});
        std::filesystem::remove_all(root);
    }
    void put(const std::filesystem::path& file, const std::string& content)
    {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
    }
};

} // namespace

TEST_F(ResourceFolders, SearchOrderAndCaseInsensitiveNames)
{
    const auto folders = tarsel::ResourceFolders();
    ASSERT_GE(folders.size(), 5u);
    EXPECT_EQ(folders[0], (root / "a").string());
    EXPECT_EQ(folders[1], (root / "home/tarsel/resources").string());
    EXPECT_EQ(folders[2], (root / "d1/tarsel/resources").string());
    EXPECT_EQ(folders[3], (root / "d2/tarsel/resources").string());

    put(root / "d2/tarsel/resources/MINI_CP437_480X272.BIN", "deep");
    ResourceLookup found;
    EXPECT_EQ(LoadResource("mini_CP437_480x272", &found), "deep");
    EXPECT_TRUE(found.found);
    // Earlier folders win; a name without ".bin" is found too.
    put(root / "home/tarsel/resources/mini_cp437_480x272", "home");
    EXPECT_EQ(LoadResource("mini_CP437_480x272.bin"), "home");
    put(root / "a/Mini_Cp437_480x272.bin", "first");
    EXPECT_EQ(LoadResource("mini_CP437_480x272"), "first");

    setenv("TARSEL_RESOURCE_DIR", (root / "env").c_str(), 1);
    put(root / "env/big52gbk.bin", "env");
    EXPECT_EQ(tarsel::ResourceFolders()[1], (root / "env").string());
    EXPECT_EQ(LoadResource("BIG52GBK"), "env");
    unsetenv("TARSEL_RESOURCE_DIR");
}

TEST_F(ResourceFolders, AMissNamesEveryFolderSearched)
{
    ResourceLookup lookup;
    EXPECT_EQ(LoadResource("KT710II", &lookup), "");
    EXPECT_FALSE(lookup.found);
    EXPECT_EQ(lookup.searched, tarsel::ResourceFolders());
    // A folder name is never taken for an image, nor a path outside the folders.
    std::filesystem::create_directories(root / "a/KT710II.bin");
    EXPECT_FALSE(FindResource("KT710II").found);
    put(root / "secret.bin", "x");
    EXPECT_FALSE(FindResource("../secret").found);
}

TEST_F(ResourceFolders, SyntheticPackHasEveryImageAtItsSize)
{
    std::string error;
    ASSERT_TRUE(WriteSyntheticResourcePack((root / "a").string(), 1, error)) << error;
    for (const auto& entry : ResourcePackImages()) {
        const Bytes image = LoadResource(entry.name);
        ASSERT_EQ(image.size(), entry.size) << entry.name;
    }
    EXPECT_EQ(LoadResource("CP437_800x480"), SyntheticImage("cp437_800X480", 102400));
    EXPECT_NE(SyntheticImage("CP437_800x480", 64), SyntheticImage("CP850_800x480", 64));
    // Known first bytes, shared with scripts/make-resource-pack.
    EXPECT_EQ(SyntheticImage("big52gbk", 4), SyntheticImage("BIG52GBK", 4));
}
