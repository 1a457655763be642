// scripts/make-resource-pack writes the same images, names and sizes as the
// program's own synthetic pack, and the program finds them.
#include "transfer/catalogue.h"
#include "transfer/resources.h"
#include "transfer/synthetic_pack.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace tarsel;

TEST(ResourcePackScript, WritesTheSyntheticPack)
{
    if (std::system("python3 --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not installed";
    const auto dir = std::filesystem::temp_directory_path() / ("tarsel-packscript-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    const std::string command = std::string("python3 '") + TARSEL_SOURCE_DIR + "/scripts/make-resource-pack' '" +
                                dir.string() + "' --divisor 256 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);

    SetResourceFolderOverride({dir.string()});
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++files;
    }
    const auto images = ResourcePackImages();
    EXPECT_EQ(files, images.size());
    for (const auto& image : images) {
        const ResourceLookup lookup = FindResource(image.name);
        ASSERT_TRUE(lookup.found) << image.name;
        EXPECT_EQ(lookup.path, dir.string() + "/" + image.name + ".bin");
        EXPECT_EQ(LoadResource(image.name), SyntheticImage(image.name, std::max<std::size_t>(1, image.size / 256)))
            << image.name;
    }
    SetResourceFolderOverride({});
    std::filesystem::remove_all(dir);
}
