// The folder spelling of the file service and the Windows product names of
// the OS description: pure functions over text and numbers.
#include <gtest/gtest.h>

#include "services/files.hpp"
#include "services/os_info.hpp"

namespace zuv {

TEST(FileService, FolderSpelling) {
    for (const char* name : {"a/", "/", ".", "..", "a/.", "a/..", "/x/y/"})
        EXPECT_TRUE(simple_io::dir_q(std::string(name))) << name;
    for (const char* name : {"", "a", "a.", "a..", ".a", "a/.b", "a/b"})
        EXPECT_FALSE(simple_io::dir_q(std::string(name))) << name;
}

TEST(OsInfo, WindowsNames) {
    struct Case {
        int major, minor;
        bool workstation;
        int build;
        const char* name;
    } cases[] = {
        {10, 0, true, 21999, "Windows 10"},         {10, 0, true, 22000, "Windows 11"},
        {10, 0, false, 17133, "Windows Server 2016"}, {10, 0, false, 17134, "Windows Server 2019"},
        {10, 0, false, 20284, "Windows Server 2019"}, {10, 0, false, 20285, "Windows Server 2022"},
        {6, 1, false, 0, "Windows Server 2008 R1"},   {6, 3, true, 0, "Windows 8.1"},
        {5, 2, false, 0, "Windows Server 2003 R2"},   {6, 4, true, 0, "Windows 6.4"},
        {5, 3, false, 0, "Windows 5.3"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(os::windows_name(c.major, c.minor, c.workstation, c.build), c.name) << c.major << "." << c.minor;
}

TEST(OsInfo, ArchitectureWords) {
    EXPECT_STREQ(os::arch_word("x86_64"), "x86-64");
    EXPECT_STREQ(os::arch_word("aarch64"), "ARM64");
    EXPECT_STREQ(os::arch_word("i686"), "x86-32");
    EXPECT_STREQ(os::arch_word("armv7l"), "ARM");
    EXPECT_STREQ(os::arch_word("riscv64"), "Unknown");
}

}  // namespace zuv
