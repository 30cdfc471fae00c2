#include "platform/DriveTypes.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace fs = std::filesystem;

namespace {

// A sysfs stand-in: /dev/block/<major:minor> links to the device folder, a partition is a
// sub-folder of its disk with a "partition" file, the disk has "removable".
void AddBlockDevice(const std::string& sys, const std::string& id, const std::string& devicePath,
                    const std::string& removable) {
  fs::create_directories(sys + "/devices/" + devicePath);
  fs::path device = sys + "/devices/" + devicePath;
  if (device.parent_path().filename() != "block") {
    WriteFileBytes((device / "partition").string(), "1\n");
    device = device.parent_path();
  }
  if (!removable.empty()) WriteFileBytes((device / "removable").string(), removable + "\n");
  fs::create_directories(sys + "/dev/block");
  fs::create_symlink("../../devices/" + devicePath, sys + "/dev/block/" + id);
}

const char* const MountTable =
    "1 0 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "2 1 0:21 / /proc rw,nosuid - proc proc rw\n"
    "3 1 0:25 / /run rw shared:5 master:2 - tmpfs tmpfs rw\n"
    "4 1 0:40 / /mnt/nfs rw - nfs4 server:/export rw\n"
    "5 1 0:41 / /mnt/win rw - cifs //server/share rw\n"
    "6 1 0:42 / /mnt/ssh rw - fuse.sshfs me@host: rw\n"
    "7 1 0:43 / /mnt/fuse rw - fuse.localfs local rw\n"
    "8 1 8:17 / /media/usb\\040stick rw - vfat /dev/sdb1 rw\n"
    "9 1 11:0 / /media/disc ro - udf /dev/sr0 ro\n"
    "10 1 11:1 / /media/dvd ro - ext2 /dev/sr1 ro\n"
    "11 1 8:1 / /mnt/over rw - ext4 /dev/sda1 rw\n"
    "12 11 0:44 / /mnt/over rw - tmpfs tmpfs rw\n"
    "13 1 8:1 /sub /mnt/bind rw - ext4 /dev/sda1 rw\n"
    "broken line\n";

}  // namespace

TEST(DriveTypes, MountTableDecidesTheType) {
  TTempDir tmp;
  const std::string sys = tmp.File("sys");
  AddBlockDevice(sys, "8:1", "pci/block/sda/sda1", "0");
  AddBlockDevice(sys, "8:17", "usb/block/sdb/sdb1", "1");
  AddBlockDevice(sys, "11:0", "ata/block/sr0", "1");
  AddBlockDevice(sys, "11:1", "ata/block/sr1", "0");

  auto type = [&](const std::string& path) { return DriveTypeFromMounts(MountTable, path, sys); };
  EXPECT_EQ(type("/"), DRIVE_FIXED);
  EXPECT_EQ(type("/home/user/file"), DRIVE_FIXED);
  EXPECT_EQ(type("/mnt/bind/x"), DRIVE_FIXED);
  EXPECT_EQ(type("/proc/self"), DRIVE_UNKNOWN);
  EXPECT_EQ(type("/run/user/1000"), DRIVE_RAMDISK);
  EXPECT_EQ(type("/mnt/nfs"), DRIVE_REMOTE);
  EXPECT_EQ(type("/mnt/nfs/deep/file"), DRIVE_REMOTE);
  EXPECT_EQ(type("/mnt/nfsother/file"), DRIVE_FIXED);  // a name that merely starts alike
  EXPECT_EQ(type("/mnt/win/x"), DRIVE_REMOTE);
  EXPECT_EQ(type("/mnt/ssh/x"), DRIVE_REMOTE);
  EXPECT_EQ(type("/mnt/fuse/x"), DRIVE_FIXED);
  EXPECT_EQ(type("/media/usb stick/photos"), DRIVE_REMOVABLE);  // the partition's disk is removable
  EXPECT_EQ(type("/media/disc/x"), DRIVE_CDROM);                 // by file system
  EXPECT_EQ(type("/media/dvd/x"), DRIVE_CDROM);                  // by device name
  EXPECT_EQ(type("/mnt/over/x"), DRIVE_RAMDISK);                 // the mount on top counts

  // Without the device in sysfs, or without a mount table, nothing breaks.
  EXPECT_EQ(DriveTypeFromMounts(MountTable, "/media/usb stick", tmp.File("nosys")), DRIVE_FIXED);
  EXPECT_EQ(DriveTypeFromMounts("", "/", sys), DRIVE_UNKNOWN);
}

TEST(DriveTypes, PathsOfThisMachine) {
  EXPECT_EQ(GetDriveType("/dev/shm"), DRIVE_RAMDISK);
  EXPECT_EQ(GetDriveType("/dev/shm/not/made/yet"), DRIVE_RAMDISK);
  EXPECT_EQ(GetDriveType("/proc/self/status"), DRIVE_UNKNOWN);
  EXPECT_EQ(GetDriveType("/proc/../dev/shm"), DRIVE_RAMDISK);
  EXPECT_EQ(GetDriveType("."), GetDriveType(fs::current_path().string()));
  const int root = GetDriveType("/");
  EXPECT_TRUE(root == DRIVE_FIXED || root == DRIVE_REMOVABLE) << root;
}
