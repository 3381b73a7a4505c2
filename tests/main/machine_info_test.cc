#include "main/machine_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "main/run_shell.h"

namespace {

using namespace machine_info_internal;
using main_test::Field;
using main_test::RunShell;
using main_test::ShellQuote;

// SHA-256 by another implementation than the program's.
std::string Sha256(const std::string& text) {
  const std::string out = RunShell("printf %s " + ShellQuote(text) + " | sha256sum");
  return out.substr(0, 64);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string CpuInfoField(const std::string& name) {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  const std::regex pattern("^" + name + "\\s*: (.*)$");
  std::smatch match;
  while (std::getline(in, line))
    if (std::regex_match(line, match, pattern)) return match[1];
  return std::string();
}

class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/machine_info_test.XXXXXX";
    root_ = mkdtemp(pattern);
    mkdir((root_ + "/dev").c_str(), 0755);
    mkdir((root_ + "/by-uuid").c_str(), 0755);
  }
  ~TempTree() { RunShell("rm -rf " + ShellQuote(root_)); }
  // A device file and its by-uuid link.
  void AddDevice(const std::string& dev, const std::string& uuid) {
    std::ofstream(root_ + "/dev/" + dev) << "";
    EXPECT_EQ(0, symlink(("../dev/" + dev).c_str(), (root_ + "/by-uuid/" + uuid).c_str()));
  }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(root_ + "/" + name) << text;
    return root_ + "/" + name;
  }
  std::string Mount(const std::string& id, const std::string& point, const std::string& dev) {
    return id + " 1 8:" + id + " / " + point + " rw,relatime shared:1 - ext4 " + root_ + "/dev/" +
           dev + " rw\n";
  }
  std::string ByUuid() const { return root_ + "/by-uuid"; }

 private:
  std::string root_;
};

TEST(VolumeSerialTest, RootFileSystemIsFoundByItsMountSource) {
  TempTree tree;
  tree.AddDevice("sda1", "0a1b2c3d-1111-2222-3333-444455556666");
  tree.AddDevice("sda2", "6f1c2a3b-aaaa-bbbb-cccc-ddddeeeeffff");
  tree.AddDevice("sdb1", "ABCD-1234");
  // /home on sda1 comes first and must not be taken for the root.
  const std::string plain =
      tree.Write("plain", tree.Mount("1", "/home", "sda1") + tree.Mount("2", "/", "sda2") +
                              "3 2 0:5 / /proc rw - proc proc rw\n");
  EXPECT_EQ("6f1c2a3b-aaaa-bbbb-cccc-ddddeeeeffff", RootFileSystemUuid(plain, tree.ByUuid()));
  EXPECT_EQ("6F1C2A3B", VolumeSerialFrom(plain, tree.ByUuid(), "/nonexistent"));

  // A later mount on "/" hides the one below it.
  const std::string over = tree.Write("over", tree.Mount("2", "/", "sda2") +
                                                  "9 1 8:17 / / rw shared:9 master:2 - vfat " +
                                                  tree.ByUuid() + "/../dev/sdb1 rw\n");
  EXPECT_EQ("ABCD-1234", RootFileSystemUuid(over, tree.ByUuid()));
  EXPECT_EQ("ABCD1234", VolumeSerialFrom(over, tree.ByUuid(), "/nonexistent"));

  // A root without a block device behind it (a container's overlay).
  const std::string overlay =
      tree.Write("overlay", "26 1 0:40 / / rw - overlay overlay rw,lowerdir=/x\n");
  EXPECT_EQ("", RootFileSystemUuid(overlay, tree.ByUuid()));
  const std::string no_root = tree.Write("noroot", tree.Mount("1", "/home", "sda1"));
  EXPECT_EQ("", RootFileSystemUuid(no_root, tree.ByUuid()));
  EXPECT_EQ("", RootFileSystemUuid("/nonexistent", tree.ByUuid()));
  EXPECT_EQ("", RootFileSystemUuid(plain, "/nonexistent"));
}

TEST(VolumeSerialTest, SerialIsTheFirstEightHexDigitsInUpperCase) {
  EXPECT_EQ("0A1B2C3D", SerialFromUuid("0a1b2c3d-1111-2222-3333-444455556666"));
  EXPECT_EQ("ABCD1234", SerialFromUuid("abcd-1234"));
  EXPECT_EQ("00000001", SerialFromUuid("00000001"));
  EXPECT_EQ("", SerialFromUuid("12-34"));
  EXPECT_EQ("", SerialFromUuid("1234567g"));
  EXPECT_EQ("", SerialFromUuid(""));
}

TEST(VolumeSerialTest, WithoutAFileSystemUuidTheMachineIdDigestIsUsed) {
  TempTree tree;
  const std::string id = tree.Write("machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
  const std::string expected = Upper(Sha256("3d1219c7c4c5404aaa1f6d2a48adfda4").substr(0, 8));
  EXPECT_EQ(expected, SerialFromMachineId(id));
  EXPECT_EQ(expected, VolumeSerialFrom("/nonexistent", tree.ByUuid(), id));
  EXPECT_EQ("", SerialFromMachineId(tree.Write("blank", "\n")));
  EXPECT_EQ("", VolumeSerialFrom("/nonexistent", tree.ByUuid(), "/nonexistent"));
}

TEST(VolumeSerialTest, ThisMachinesSerialIsStableAndWellFormed) {
  const std::string serial = GetVolumeSerial();
  EXPECT_EQ(serial, GetVolumeSerial());
  if (access("/etc/machine-id", R_OK) == 0) {
    EXPECT_TRUE(std::regex_match(serial, std::regex("[0-9A-F]{8}"))) << serial;
  } else {
    EXPECT_TRUE(serial.empty() || std::regex_match(serial, std::regex("[0-9A-F]{8}"))) << serial;
  }
}

TEST(CpuIdTest, LeafOneEdxThenEaxAsSixteenUpperHexDigits) {
  const std::string id = GetCpuId();
  ASSERT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{16}"))) << id;
  EXPECT_EQ(id, GetCpuId());
#if defined(__i386__) || defined(__x86_64__)
  const unsigned long edx = std::stoul(id.substr(0, 8), nullptr, 16);
  const unsigned long eax = std::stoul(id.substr(8), nullptr, 16);
  // The signature in EAX against the kernel's reading of it.
  const unsigned long base_family = (eax >> 8) & 0xF;
  const unsigned long family =
      base_family == 0xF ? base_family + ((eax >> 20) & 0xFF) : base_family;
  unsigned long model = (eax >> 4) & 0xF;
  if (base_family == 0x6 || base_family == 0xF) model |= ((eax >> 16) & 0xF) << 4;
  EXPECT_EQ(CpuInfoField("cpu family"), std::to_string(family));
  EXPECT_EQ(CpuInfoField("model"), std::to_string(model));
  EXPECT_EQ(CpuInfoField("stepping"), std::to_string(eax & 0xF));
  // Feature bits in EDX: FPU (0), TSC (4), SSE2 (26).
  const std::string flags = " " + CpuInfoField("flags") + " ";
  EXPECT_EQ(flags.find(" fpu ") != std::string::npos, (edx & 1) != 0);
  EXPECT_EQ(flags.find(" tsc ") != std::string::npos, ((edx >> 4) & 1) != 0);
  EXPECT_EQ(flags.find(" sse2 ") != std::string::npos, ((edx >> 26) & 1) != 0);
#endif
}

TEST(MachineCodeTest, PresetWinsOtherwiseDigestOfSerialAndCpuId) {
  EXPECT_EQ("preset-id", MachineCodeFrom("preset-id", "0A1B2C3D", "0123456789ABCDEF"));
  EXPECT_EQ(Sha256("0A1B2C3D@_@0123456789ABCDEF"),
            MachineCodeFrom("", "0A1B2C3D", "0123456789ABCDEF"));
  // No readable volume: the digest of "@_@" and the CPU identifier alone.
  EXPECT_EQ(Sha256("@_@0123456789ABCDEF"), MachineCodeFrom("", "", "0123456789ABCDEF"));
  // Without the support layer there is no preset to read.
  EXPECT_EQ(Sha256(GetVolumeSerial() + "@_@" + GetCpuId()), GetMachineCode());
}

std::string Probe() { return std::string(QNCHAT_BINARY_DIR) + "/tests/main/identity_probe"; }

TEST(MachineCodeTest, InstallationPresetIsReturnedAsItIs) {
  char pattern[] = "/tmp/machine_code_test.XXXXXX";
  const std::string home = mkdtemp(pattern);
  RunShell("mkdir -p " + home + "/.config/QNChat");
  std::ofstream(home + "/.config/QNChat/presets.json") << R"({"global_machineid": "MC-42"})";
  const std::string preset = RunShell("env -i HOME=" + home + " " + Probe() + " machine");
  EXPECT_EQ("MC-42", Field(preset, "machine_code")) << preset;
  std::ofstream(home + "/.config/QNChat/presets.json") << R"({"global_machineid": ""})";
  const std::string none = RunShell("env -i HOME=" + home + " " + Probe() + " machine");
  EXPECT_EQ(Sha256(Field(none, "volume") + "@_@" + Field(none, "cpu")),
            Field(none, "machine_code"));
  RunShell("rm -rf " + home);
}

TEST(DeviceNameTest, IsTheHostName) {
  char name[1024] = {};
  gethostname(name, sizeof(name) - 1);
  EXPECT_EQ(name, GetDeviceName());
}

// The hardware address as seen from inside a network namespace made here.
class MacAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace";
    ns_ = "qnmac" + std::to_string(getpid());
    ASSERT_EQ(0, system(("ip netns add " + ns_).c_str()));
  }
  void TearDown() override {
    if (!ns_.empty()) RunShell("ip netns del " + ns_);
  }
  std::string In(const std::string& command) {
    return RunShell("ip netns exec " + ns_ + " " + command);
  }
  std::string ns_;
};

TEST_F(MacAddressTest, OnlyLoopbackMeansUnknown) {
  EXPECT_EQ("unknown", Field(In(Probe() + " machine"), "mac"));
  In("ip link set lo up");
  EXPECT_EQ("unknown", Field(In(Probe() + " machine"), "mac"));
}

TEST_F(MacAddressTest, FirstInterfaceAfterLoopbackGivesItsAddress) {
  In("ip link add qma type veth peer name qmb");
  In("ip link set qma address 02:ab:cd:ef:00:01");
  In("ip link set qmb address 02:11:22:33:44:66");
  // Listed by index; the lower one of the pair comes first.
  const std::string links = In("ip -o link show");
  const size_t a = links.find(": qma"), b = links.find(": qmb");
  ASSERT_NE(std::string::npos, a) << links;
  ASSERT_NE(std::string::npos, b) << links;
  EXPECT_EQ(a < b ? "02:AB:CD:EF:00:01" : "02:11:22:33:44:66",
            Field(In(Probe() + " machine"), "mac"));
}

}  // namespace
