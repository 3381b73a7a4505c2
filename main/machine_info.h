// Descriptors of this machine for the update and feedback service. Texts are
// UTF-8. Safe from any thread; none needs a QCoreApplication.
#pragma once

#include <string>

// The installation's preset "global_machineid" when there is one, otherwise
// the digest of GetVolumeSerial() + "@_@" + GetCpuId(). Not stored.
std::string GetMachineCode();

// 16 upper-case hex digits: processor information leaf 1, EDX then EAX. Off
// x86, a value derived from the hardware capability words, equally stable.
std::string GetCpuId();

// The root file system's serial as 8 upper-case hex digits: the first 8 hex
// digits of its UUID, else taken from the digest of the machine id; empty
// when neither can be read.
std::string GetVolumeSerial();

// The first valid non-loopback interface's hardware address ("aa:bb:..."),
// "unknown" when it has none or there is no such interface.
std::string GetMacAddress();

// The host name as Qt reports it.
std::string GetDeviceName();

namespace machine_info_internal {

// GetMachineCode's rule with its inputs given.
std::string MachineCodeFrom(const std::string& preset, const std::string& volume_serial,
                            const std::string& cpu_id);

// The UUID of the file system mounted at "/" according to mountinfo_path
// (format of /proc/self/mountinfo), looked up among the links in by_uuid_dir
// (like /dev/disk/by-uuid); empty when not found.
std::string RootFileSystemUuid(const std::string& mountinfo_path, const std::string& by_uuid_dir);

// "%08X" of the first 8 hex digits of uuid (hyphens skipped); empty when it
// has fewer than 8.
std::string SerialFromUuid(const std::string& uuid);

// "%08X" of the first 8 hex digits of the digest of the first line of the
// file; empty when the file is missing or blank.
std::string SerialFromMachineId(const std::string& path);

// GetVolumeSerial with its sources given.
std::string VolumeSerialFrom(const std::string& mountinfo_path, const std::string& by_uuid_dir,
                             const std::string& machine_id_path);

}  // namespace machine_info_internal
