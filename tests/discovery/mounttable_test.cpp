#include "discovery/mounttable.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quillmend::mounts {
namespace {

using TPoints = std::vector<std::string>;

TPoints Fixed(const std::string& table, const std::set<std::string>& removable = {},
              const std::set<std::string>& notReady = {})
{
  std::istringstream in(table);
  return FixedMountPoints(
      ParseMountInfo(in), [&](const TMount& mount) { return removable.count(mount.Point) != 0; },
      [&](const std::string& point) { return notReady.count(point) == 0; });
}

TEST(MountTable, ParsesFieldsAndEscapes)
{
  std::istringstream in(
      "36 35 98:0 /mnt1 /mnt/my\\040disk rw,noatime master:1 shared:2 - ext3 /dev/root rw,errors=continue\n"
      "not a mount line\n"
      "40 35 0:40 / /data\\134x rw - btrfs /dev/sda3 rw\n");
  const auto mounts = ParseMountInfo(in);
  ASSERT_EQ(mounts.size(), 2u);
  EXPECT_EQ(mounts[0].Major, 98u);
  EXPECT_EQ(mounts[0].Minor, 0u);
  EXPECT_EQ(mounts[0].Root, "/mnt1");
  EXPECT_EQ(mounts[0].Point, "/mnt/my disk");
  EXPECT_EQ(mounts[0].Type, "ext3");
  EXPECT_EQ(mounts[0].Source, "/dev/root");
  EXPECT_EQ(mounts[1].Point, "/data\\x");
  EXPECT_EQ(mounts[1].Type, "btrfs");
}

TEST(MountTable, DiskFileSystemsOnly)
{
  const struct {
    const char* type;
    bool disk;
  } cases[] = {
      {"ext4", true},    {"xfs", true},         {"btrfs", true},     {"vfat", true},     {"exfat", true},
      {"ntfs3", true},   {"fuseblk", true},     {"zfs", true},       {"proc", false},    {"sysfs", false},
      {"tmpfs", false},  {"devtmpfs", false},   {"cgroup2", false},  {"overlay", false}, {"nfs4", false},
      {"cifs", false},   {"fuse.sshfs", false}, {"squashfs", false}, {"iso9660", false}, {"udf", false},
      {"autofs", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsDiskFileSystem(c.type), c.disk) << c.type;
}

TEST(MountTable, DesktopKeepsFixedDisksInTableOrder)
{
  const std::string table = "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                            "23 22 0:21 / /proc rw - proc proc rw\n"
                            "24 22 0:22 / /sys rw - sysfs sysfs rw\n"
                            "25 22 0:6 / /dev rw - devtmpfs udev rw\n"
                            "26 22 0:30 / /tmp rw - tmpfs tmpfs rw\n"
                            "27 22 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
                            "28 22 8:3 / /home rw - ext4 /dev/sda3 rw\n"
                            "29 22 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
                            "30 22 8:17 / /media/me/STICK rw - vfat /dev/sdb1 rw\n"
                            "31 22 0:50 / /net/share rw - nfs4 server:/share rw\n"
                            "32 22 0:51 / /home/me/remote rw - fuse.sshfs me@host: rw\n"
                            "33 22 8:4 / /mnt/windows rw - fuseblk /dev/sda4 rw\n"
                            "34 22 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n";
  EXPECT_EQ(Fixed(table, {"/media/me/STICK"}), (TPoints{"/", "/boot/efi", "/home", "/mnt/windows"}));
  EXPECT_EQ(Fixed(table, {"/media/me/STICK"}, {"/home"}), (TPoints{"/", "/boot/efi", "/mnt/windows"}));
}

TEST(MountTable, ContainerRootOverlayCounts)
{
  const std::string table = "500 450 0:52 / / rw - overlay overlay rw,lowerdir=/l,upperdir=/u\n"
                            "501 500 0:55 / /proc rw - proc proc rw\n"
                            "502 500 0:56 / /dev rw - tmpfs tmpfs rw\n"
                            "503 500 254:1 /var/lib/docker/containers/abc/hosts /etc/hosts rw - ext4 /dev/vda1 rw\n"
                            "504 500 254:1 /home/me/project /srv/data rw - ext4 /dev/vda1 rw\n"
                            "505 500 0:57 / /srv/data/overlay rw - overlay overlay rw\n";
  // /etc/hosts is a file: not ready as a folder.
  EXPECT_EQ(Fixed(table, {}, {"/etc/hosts"}), (TPoints{"/", "/srv/data"}));
}

TEST(MountTable, RepeatsOfOneFileSystemAreLeftOut)
{
  const std::string table = "22 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
                            "23 22 8:5 / /data rw - ext4 /dev/sdb1 rw\n"
                            "24 22 8:5 /www /srv/www rw - ext4 /dev/sdb1 rw\n"  // already shown below /data
                            "25 22 8:5 / /mnt/again rw - ext4 /dev/sdb1 rw\n"   // the same again elsewhere
                            "26 22 8:2 /home /home rw - ext4 /dev/sda2 rw\n"    // a folder of the root file system
                            "27 22 8:6 /sub /x rw - ext4 /dev/sdb2 rw\n"
                            "28 22 8:6 /subway /w rw - ext4 /dev/sdb2 rw\n"  // a sibling of /sub, not inside it
                            "29 22 8:6 / /y rw - ext4 /dev/sdb2 rw\n"        // shows /x and /w as well: replaces them
                            "30 22 8:6 /sub/deeper /z rw - ext4 /dev/sdb2 rw\n";  // inside /y
  EXPECT_EQ(Fixed(table), (TPoints{"/", "/data", "/y"}));
  // Without /y, /subway is no folder of /sub.
  EXPECT_EQ(Fixed(table.substr(0, table.find("29 22"))), (TPoints{"/", "/data", "/x", "/w"}));
}

TEST(MountTable, BtrfsSubvolumesAreSearchedEach)
{
  const std::string table = "22 1 0:31 /@ / rw - btrfs /dev/nvme0n1p3 rw,subvol=/@\n"
                            "23 22 0:31 /@home /home rw - btrfs /dev/nvme0n1p3 rw,subvol=/@home\n"
                            "24 22 0:31 /@/var/lib/portables /var/lib/portables rw - btrfs /dev/nvme0n1p3 rw\n"
                            "25 22 0:31 /@home /mnt/home-again rw - btrfs /dev/nvme0n1p3 rw\n";
  EXPECT_EQ(Fixed(table), (TPoints{"/", "/home", "/var/lib/portables"}));
}

TEST(MountTable, OnlyTheLastMountAtAPlaceIsSeen)
{
  const std::string table = "22 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
                            "23 22 8:3 / /mnt/a rw - ext4 /dev/sda3 rw\n"
                            "24 23 0:40 / /mnt/a rw - tmpfs tmpfs rw\n"
                            "25 22 0:41 / /mnt/b rw - tmpfs tmpfs rw\n"
                            "26 25 8:4 / /mnt/b rw - xfs /dev/sda4 rw\n"
                            "27 22 8:5 / /mnt/c rw - ext4 /dev/sda5 rw\n"
                            "28 27 8:5 / /mnt/c rw - ext4 /dev/sda5 rw\n";
  EXPECT_EQ(Fixed(table), (TPoints{"/", "/mnt/b", "/mnt/c"}));
}

TEST(MountTable, EmptyOrUnreadyTables)
{
  EXPECT_TRUE(Fixed("").empty());
  EXPECT_TRUE(Fixed("22 1 8:2 / / rw - ext4 /dev/sda2 rw\n", {}, {"/"}).empty());
  EXPECT_EQ(Fixed("22 1 8:2 / / rw - ext4 /dev/sda2 rw\n", {"/"}), TPoints{"/"});  // the root always counts
}

}  // namespace
}  // namespace quillmend::mounts
