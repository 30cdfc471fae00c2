#include "platform/DriveTypes.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::set<std::string, std::less<>> NetworkFileSystems = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "coda", "9p",
    "ceph", "glusterfs", "lustre", "davfs", "sshfs"};
// Network file systems served through FUSE show up as "fuse." + the helper's name.
const std::set<std::string, std::less<>> NetworkFuseHelpers = {
    "sshfs", "rclone", "s3fs", "gcsfuse", "smbnetfs", "curlftpfs", "glusterfs", "ceph-fuse", "davfs2"};
const std::set<std::string, std::less<>> RamFileSystems = {"tmpfs", "ramfs", "devtmpfs"};
const std::set<std::string, std::less<>> OpticalFileSystems = {"iso9660", "udf"};
const std::set<std::string, std::less<>> PseudoFileSystems = {
    "proc", "sysfs", "cgroup", "cgroup2", "devpts", "debugfs", "tracefs", "securityfs", "pstore",
    "bpf", "configfs", "fusectl", "mqueue", "hugetlbfs", "binfmt_misc", "autofs", "efivarfs", "nsfs",
    "selinuxfs", "rpc_pipefs"};

struct TMount {
  std::string DeviceId;  // "major:minor"
  std::string MountPoint;
  std::string FsType;
};

// Mount points escape blanks, tabs, line feeds and backslashes as three octal digits.
std::string DecodeOctalEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() &&
        text.substr(i + 1, 3).find_first_not_of("01234567") == std::string_view::npos) {
      out.push_back(static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool ParseMountLine(const std::string& line, TMount& mount) {
  std::istringstream in(line);
  std::vector<std::string> fields{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
  // id parent major:minor root mount-point options [optional...] - fstype source super-options
  size_t dash = 6;
  while (dash < fields.size() && fields[dash] != "-") ++dash;
  if (fields.size() < 5 || dash + 1 >= fields.size()) return false;
  mount.DeviceId = fields[2];
  mount.MountPoint = DecodeOctalEscapes(fields[4]);
  mount.FsType = fields[dash + 1];
  return true;
}

bool Contains(const std::string& path, const std::string& mountPoint) {
  if (mountPoint == "/") return true;
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

bool IsNetwork(const std::string& fsType) {
  if (NetworkFileSystems.count(fsType)) return true;
  constexpr std::string_view fuse = "fuse.";
  return fsType.compare(0, fuse.size(), fuse) == 0 && NetworkFuseHelpers.count(fsType.substr(fuse.size()));
}

std::string ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

int BlockDeviceType(const std::string& deviceId, const std::string& sysDir) {
  if (deviceId.empty() || deviceId.compare(0, 2, "0:") == 0) return DRIVE_FIXED;  // no block device
  std::error_code ec;
  fs::path device = fs::canonical(fs::path(sysDir) / "dev" / "block" / deviceId, ec);
  if (ec) return DRIVE_FIXED;
  // A partition's flags are its disk's.
  fs::path disk = fs::exists(device / "partition", ec) ? device.parent_path() : device;
  if (disk.filename().string().compare(0, 2, "sr") == 0) return DRIVE_CDROM;
  if (ReadFirstLine(disk / "removable") == "1") return DRIVE_REMOVABLE;
  return DRIVE_FIXED;
}

}  // namespace

int DriveTypeFromMounts(const std::string& mountInfo, const std::string& path, const std::string& sysDir) {
  std::istringstream lines(mountInfo);
  std::string line;
  TMount best, mount;
  bool found = false;
  while (std::getline(lines, line)) {
    // Later entries are mounted over earlier ones at the same point: ">=" takes the last.
    if (ParseMountLine(line, mount) && Contains(path, mount.MountPoint) &&
        (!found || mount.MountPoint.size() >= best.MountPoint.size())) {
      best = mount;
      found = true;
    }
  }
  if (!found) return DRIVE_UNKNOWN;
  if (IsNetwork(best.FsType)) return DRIVE_REMOTE;
  if (OpticalFileSystems.count(best.FsType)) return DRIVE_CDROM;
  if (RamFileSystems.count(best.FsType)) return DRIVE_RAMDISK;
  if (PseudoFileSystems.count(best.FsType)) return DRIVE_UNKNOWN;
  return BlockDeviceType(best.DeviceId, sysDir);
}

int GetDriveType(const std::string& path) {
  std::error_code ec;
  fs::path existing = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
  if (ec) return DRIVE_NO_ROOT_DIR;
  while (!fs::exists(existing, ec)) {
    if (!existing.has_relative_path()) return DRIVE_NO_ROOT_DIR;
    existing = existing.parent_path();
  }
  fs::path real = fs::canonical(existing, ec);
  if (ec) return DRIVE_NO_ROOT_DIR;
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return DRIVE_UNKNOWN;
  std::string table{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return DriveTypeFromMounts(table, real.string(), "/sys");
}
