#include "main/machine_info.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <QHostInfo>
#include <QNetworkInterface>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tessel/tessel.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#else
#include <sys/auxv.h>
#endif

namespace machine_info_internal {
namespace {

std::string Hex8(unsigned long value) {
  char text[16];
  snprintf(text, sizeof(text), "%08X", static_cast<unsigned>(value & 0xFFFFFFFFul));
  return text;
}

// The first 8 hex digits of text, hyphens skipped; empty when fewer.
std::string First8HexDigits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == '-') continue;
    if (!isxdigit(static_cast<unsigned char>(c))) break;
    digits += c;
    if (digits.size() == 8) return digits;
  }
  return std::string();
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::string();
  return resolved;
}

struct RootMount {
  unsigned major = 0;
  unsigned minor = 0;
  std::string source;
  bool found = false;
};

// The last mount on "/" wins: it hides the ones below it.
RootMount FindRootMount(const std::string& mountinfo_path) {
  RootMount root;
  std::ifstream in(mountinfo_path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, dev, fs_root, mount_point;
    if (!(fields >> id >> parent >> dev >> fs_root >> mount_point) || mount_point != "/") continue;
    std::string field;
    while (fields >> field && field != "-") {
    }
    std::string fs_type, source;
    if (!(fields >> fs_type >> source)) continue;
    unsigned major = 0, minor = 0;
    if (sscanf(dev.c_str(), "%u:%u", &major, &minor) != 2) continue;
    root.major = major;
    root.minor = minor;
    root.source = source;
    root.found = true;
  }
  return root;
}

}  // namespace

std::string MachineCodeFrom(const std::string& preset, const std::string& volume_serial,
                            const std::string& cpu_id) {
  if (!preset.empty()) return preset;
  const std::string text = volume_serial + "@_@" + cpu_id;
  if (CD) return CD->digest()->digest(text);
  return tsl::Digest().digest(text);
}

std::string RootFileSystemUuid(const std::string& mountinfo_path, const std::string& by_uuid_dir) {
  const RootMount root = FindRootMount(mountinfo_path);
  if (!root.found) return std::string();
  const std::string source = root.source[0] == '/' ? RealPath(root.source) : std::string();
  DIR* dir = opendir(by_uuid_dir.c_str());
  if (!dir) return std::string();
  std::string uuid;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string link = by_uuid_dir + "/" + name;
    struct stat st;
    const bool same_device = stat(link.c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
                             major(st.st_rdev) == root.major && minor(st.st_rdev) == root.minor;
    if (same_device || (!source.empty() && RealPath(link) == source)) {
      uuid = name;
      break;
    }
  }
  closedir(dir);
  return uuid;
}

std::string SerialFromUuid(const std::string& uuid) {
  const std::string digits = First8HexDigits(uuid);
  if (digits.empty()) return std::string();
  return Hex8(strtoul(digits.c_str(), nullptr, 16));
}

std::string SerialFromMachineId(const std::string& path) {
  std::ifstream in(path);
  std::string id;
  if (!std::getline(in, id)) return std::string();
  while (!id.empty() && isspace(static_cast<unsigned char>(id.back()))) id.pop_back();
  if (id.empty()) return std::string();
  return SerialFromUuid(tsl::Digest().digest(id));
}

std::string VolumeSerialFrom(const std::string& mountinfo_path, const std::string& by_uuid_dir,
                             const std::string& machine_id_path) {
  const std::string serial = SerialFromUuid(RootFileSystemUuid(mountinfo_path, by_uuid_dir));
  if (!serial.empty()) return serial;
  return SerialFromMachineId(machine_id_path);
}

}  // namespace machine_info_internal

std::string GetMachineCode() {
  const std::string preset =
      CD ? CD->appInfo()->getValue("global_machineid", tsl::Value(""), 0).toStdString("")
         : std::string();
  if (!preset.empty()) return preset;
  return machine_info_internal::MachineCodeFrom(preset, GetVolumeSerial(), GetCpuId());
}

std::string GetCpuId() {
  unsigned eax = 0, edx = 0;
#if defined(__i386__) || defined(__x86_64__)
  unsigned ebx = 0, ecx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) eax = edx = 0;
#else
  // No identification instruction a user program may run: the capability
  // words describe the processor and do not change between starts.
  edx = static_cast<unsigned>(getauxval(AT_HWCAP));
  eax = static_cast<unsigned>(getauxval(AT_HWCAP2));
#endif
  char text[20];
  snprintf(text, sizeof(text), "%08X%08X", edx, eax);
  return text;
}

std::string GetVolumeSerial() {
  const std::string serial = machine_info_internal::VolumeSerialFrom(
      "/proc/self/mountinfo", "/dev/disk/by-uuid", "/etc/machine-id");
  if (!serial.empty()) return serial;
  return machine_info_internal::SerialFromMachineId("/var/lib/dbus/machine-id");
}

std::string GetMacAddress() {
  for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
    // Loopback is listed first on Linux and its all-zero address names no
    // hardware.
    if (!iface.isValid() || (iface.flags() & QNetworkInterface::IsLoopBack)) continue;
    const QString address = iface.hardwareAddress();
    return address.isEmpty() ? "unknown" : address.toStdString();
  }
  return "unknown";
}

std::string GetDeviceName() { return QHostInfo::localHostName().toStdString(); }
