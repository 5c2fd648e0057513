// The boot records: the sources that boot/manifest.txt lists are built into
// the program in the manifest's order, and start-up evaluates them in it.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "boot/boot_texts.hpp"

using namespace zuv;

TEST(BootRecords, EmbeddedInManifestOrder) {
    std::string path = __FILE__;
    path = path.substr(0, path.rfind("/tests/unit/")) + "/boot/manifest.txt";
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::vector<std::string> listed;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') listed.push_back(line);
    ASSERT_EQ(int32_t(listed.size()), boot_texts::count);
    for (int32_t i = 0; i < boot_texts::count; i++) {
        EXPECT_EQ(boot_texts::table[i].name, listed[size_t(i)]);
        EXPECT_EQ(boot_texts::index_of(listed[size_t(i)].c_str()), i);
    }
    // The built-in definitions come first: everything after them needs them.
    EXPECT_EQ(boot_texts::index_of("boot/actions.zuv"), 0);
    EXPECT_EQ(boot_texts::index_of("natives.zuv"), 1);
    EXPECT_EQ(boot_texts::index_of("base.zuv"), 2);
    EXPECT_EQ(boot_texts::index_of("ase.zuv"), -1);  // whole file names only
}
