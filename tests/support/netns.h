// Private network namespaces for tests that run the chat core: a Network
// creates named namespaces ("qnt<pid>-<n>-<tag>"), joins them with veth pairs
// (directly, or through a bridge in a hub namespace for more than two hosts),
// shapes links (MTU, tbf, nftables loss) and removes everything in its
// destructor, also when a test fails. Processes still running in its
// namespaces are killed first. Namespaces left behind by a test process that
// died are removed by the next Network. Needs root. Used from one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qnchat_test {

// True when the process may create network namespaces.
bool IsRoot();

// Moves the calling thread into the named namespace; returns a descriptor of
// the one it left (for LeaveNetNamespace), -1 on failure. Threads the caller
// starts afterwards are born inside: an in-process application under test
// keeps its GUI thread inside for the whole run, so that every thread it makes
// later (downloads, players) stays off the machine's own network.
int EnterNetNamespace(const std::string& name);
// Returns the calling thread to the namespace EnterNetNamespace left.
void LeaveNetNamespace(int old_fd);

// Runs argv (no shell) and waits; returns the exit status, or -1 when it did
// not exit normally. Output goes to *output when given, else to stderr.
int RunCommand(const std::vector<std::string>& argv, std::string* output = nullptr);

class NetNamespace {
 public:
  const std::string& name() const { return name_; }
  // argv prefixed so that it runs inside this namespace (with its own /sys).
  std::vector<std::string> Wrap(const std::vector<std::string>& argv) const;
  // Runs argv inside the namespace; exit status as RunCommand.
  int Exec(const std::vector<std::string>& argv, std::string* output = nullptr) const;

  // Address changes at run time. cidr like "198.18.0.1/24".
  bool AddAddress(const std::string& device, const std::string& cidr) const;
  bool DeleteAddress(const std::string& device, const std::string& cidr) const;
  bool SetUp(const std::string& device, bool up) const;
  // A token-bucket filter on device's egress: rate like "1mbit", latency in ms.
  bool SetTbf(const std::string& device, const std::string& rate, int burst_bytes,
              int latency_ms) const;
  // Drops percent (0..100) of the packets arriving in this namespace, chosen
  // at random (nftables numgen on an input chain), counting them; 0 removes
  // the rule.
  bool SetInputLoss(int percent) const;
  // Packets dropped so far by SetInputLoss; -1 when no loss is set.
  int64_t DroppedInput() const;
  // Drops packets arriving in this namespace that match an nftables match
  // expression (e.g. "udp dport 6000"); ClearInputDrops removes every such rule.
  bool DropInput(const std::string& match) const;
  bool ClearInputDrops() const;
  // Ids of the processes running in the namespace.
  std::vector<int> Pids() const;

 private:
  friend class Network;
  bool AddInputChain(const std::string& table) const;
  explicit NetNamespace(std::string name) : name_(std::move(name)) {}
  std::string name_;
  int next_device_ = 0;
};

class Network {
 public:
  Network();
  // Kills the processes in every namespace, then deletes the namespaces.
  ~Network();
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  // A new namespace with loop-back up; null (and a test failure) on error.
  NetNamespace* AddHost(const std::string& tag);

  // A veth pair between a and b, the ends named "eth<n>" in each namespace,
  // with the addresses (CIDR), the MTU, both up. Returns the two device names
  // through *device_a / *device_b when given.
  bool Link(NetNamespace* a, const std::string& cidr_a, NetNamespace* b, const std::string& cidr_b,
            int mtu = 1500, std::string* device_a = nullptr, std::string* device_b = nullptr);

  // Hosts on one switched segment: a hub namespace with a bridge, one veth
  // from each host into it. Returns the host's device name, empty on error.
  std::string Join(NetNamespace* host, const std::string& cidr, int mtu = 1500);

  // A host per address on one segment: addresses 198.18.<subnet>.1, .2, ...
  // /24 (two hosts get a direct veth pair, more share a bridge).
  std::vector<NetNamespace*> MakeSegment(int hosts, int subnet = 0, int mtu = 1500);

  static std::string Address(int subnet, int host);

  const std::vector<std::unique_ptr<NetNamespace>>& hosts() const { return hosts_; }

 private:
  NetNamespace* Hub();
  NetNamespace* NewNamespace(const std::string& tag);

  std::string prefix_;
  int counter_ = 0;
  std::vector<std::unique_ptr<NetNamespace>> hosts_;
  std::unique_ptr<NetNamespace> hub_;
};

}  // namespace qnchat_test
