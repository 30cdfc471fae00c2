#pragma once
// The drive type of a path: what kind of storage holds it, told from the mount that
// contains it.
#include <string>

constexpr int DRIVE_UNKNOWN = 0;
constexpr int DRIVE_NO_ROOT_DIR = 1;
constexpr int DRIVE_REMOVABLE = 2;
constexpr int DRIVE_FIXED = 3;
constexpr int DRIVE_REMOTE = 4;
constexpr int DRIVE_CDROM = 5;
constexpr int DRIVE_RAMDISK = 6;

// The type of the mount that holds the path; a path that does not exist yet is judged
// by its nearest existing folder, as a drive letter was judged by its root. Network file
// systems are DRIVE_REMOTE, tmpfs and ramfs DRIVE_RAMDISK, kernel pseudo file systems
// (proc, sysfs, ...) DRIVE_UNKNOWN; a block device whose disk is flagged removable is
// DRIVE_REMOVABLE, an optical one (sr*, iso9660, udf) DRIVE_CDROM; anything else is
// DRIVE_FIXED. DRIVE_NO_ROOT_DIR when no part of the path exists (a relative path after
// our folder was removed); DRIVE_UNKNOWN when the mount table cannot be read.
int GetDriveType(const std::string& path);

// The decision itself, from the text of a mount table in /proc/<pid>/mountinfo form, an
// absolute path free of symbolic links, and the sysfs folder to look block devices up in.
int DriveTypeFromMounts(const std::string& mountInfo, const std::string& path, const std::string& sysDir);
