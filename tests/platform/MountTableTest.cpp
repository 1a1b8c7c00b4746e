#include "platform/MountTable.h"

#include <gtest/gtest.h>

TEST(MountTable, ReadsMountPointsWithTheirEscapes)
{
    const std::string table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 0:35 / /home/a\\040b\\011c\\134d rw - tmpfs tmpfs rw\n"
        "41 22 0:36 /x /mnt/odd\\08 rw - tmpfs tmpfs rw\n"
        "short line\n"
        "42 22 0:37 / /last rw - tmpfs tmpfs rw";
    EXPECT_EQ(MountTable::pointsIn(table),
              (std::vector<std::string>{"/", "/home/a b\tc\\d", "/mnt/odd\\08", "/last"}))
        << "escapes decode; a backslash without three octal digits stays";
    EXPECT_TRUE(MountTable::pointsIn("").empty());
    EXPECT_TRUE(MountTable::holdsMountPoint("/")) << "/proc at least is mounted below the root";
    EXPECT_FALSE(MountTable::holdsMountPoint("/proc/self/fd"));
}
