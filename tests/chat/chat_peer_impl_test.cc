// Which local addresses the peer engine uses, checked against real
// (veth) interfaces: each case runs in a child that has a network namespace and a
// /sys of its own (gone with the child). No chat socket is opened. Needs root.
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <string>

#include "chat/chat_peer_impl.h"

namespace chat {
namespace {

void RunInPrivateNetwork(const std::string& setup, const std::function<void()>& body) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to create network namespaces";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) _exit(3);
    // The interfaces' descriptions are read from /sys, which must show this
    // namespace's interfaces.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(4);
    umount2("/sys", MNT_DETACH);
    if (mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) _exit(5);
    const std::string script = "set -e; ip link set lo up; " + setup;
    if (system(script.c_str()) != 0) _exit(6);
    body();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: see the child's failures above; 3-6: set-up failed";
}

TEST(UsableLocalAddressesTest, FirstAddressOfEachUpInterfaceWithoutLoopbackOrVirtualOnes) {
  RunInPrivateNetwork(
      // Two addresses on one interface: only the first counts.
      "ip link add lan0 type veth peer name lan0p; ip addr add 198.18.5.1/24 dev lan0; "
      "ip addr add 198.18.5.9/24 dev lan0; ip link set lan0 up; "
      "ip link add lan1 type veth peer name lan1p; ip addr add 198.18.7.1/24 dev lan1; ip link set "
      "lan1 up; "
      // Filtered by description, in any letter case.
      "ip link add vm0 type veth peer name vm0p; ip link set vm0 alias 'VMWARE Network Adapter "
      "VMnet8'; "
      "ip addr add 198.18.8.1/24 dev vm0; ip link set vm0 up; "
      "ip link add hv0 type veth peer name hv0p; ip link set hv0 alias 'hyper-v ethernet'; "
      "ip addr add 198.18.9.1/24 dev hv0; ip link set hv0 up; "
      // Filtered by name.
      "ip link add Virtual0 type veth peer name Virtual0p; ip addr add 198.18.10.1/24 dev "
      "Virtual0; "
      "ip link set Virtual0 up; "
      // Down.
      "ip link add down0 type veth peer name down0p; ip addr add 198.18.11.1/24 dev down0; "
      // Point-to-point.
      "ip tuntap add tun0 mode tun; ip addr add 198.18.12.1/24 dev tun0; ip link set tun0 up",
      [] {
        EXPECT_EQ(UsableLocalAddresses(), (std::set<std::string>{"198.18.5.1", "198.18.7.1"}));
      });
}

TEST(UsableLocalAddressesTest, NothingButLoopbackGivesAnEmptySet) {
  RunInPrivateNetwork("true", [] { EXPECT_TRUE(UsableLocalAddresses().empty()); });
}

TEST(UsableLocalAddressesTest, FilterWordsMatchAnywhereInAnyCase) {
  EXPECT_TRUE(IsFilteredAdapterName("VMware Virtual Ethernet Adapter"));
  EXPECT_TRUE(IsFilteredAdapterName("my-VIRTUALBOX"));
  EXPECT_TRUE(IsFilteredAdapterName("Hyper-V Switch"));
  EXPECT_FALSE(IsFilteredAdapterName("Hyper V"));
  EXPECT_FALSE(IsFilteredAdapterName("Intel(R) Ethernet"));
  EXPECT_FALSE(IsFilteredAdapterName(""));
}

}  // namespace
}  // namespace chat
