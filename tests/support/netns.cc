#include "support/netns.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

namespace qnchat_test {

namespace {

constexpr char kPrefix[] = "qnt";

bool Ok(const std::vector<std::string>& argv) {
  std::string output;
  const int status = RunCommand(argv, &output);
  if (status != 0) {
    std::string line;
    for (const auto& word : argv) line += word + " ";
    ADD_FAILURE() << "command failed (" << status << "): " << line << "\n" << output;
    return false;
  }
  return true;
}

std::vector<std::string> ListNamespaces() {
  std::string output;
  RunCommand({"ip", "netns", "list"}, &output);
  std::vector<std::string> names;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name;
    if (words >> name) names.push_back(name);
  }
  return names;
}

void KillAndDelete(const NetNamespace& ns) {
  for (int round = 0; round < 50; ++round) {
    std::vector<int> pids = ns.Pids();
    if (pids.empty()) break;
    for (int pid : pids) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string ignored;
  RunCommand({"ip", "netns", "del", ns.name()}, &ignored);
}

// Namespaces of test processes that no longer exist.
void RemoveStale() {
  for (const auto& name : ListNamespaces()) {
    if (name.rfind(kPrefix, 0) != 0) continue;
    const int pid = atoi(name.c_str() + sizeof(kPrefix) - 1);
    if (pid <= 0 || pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH) continue;
    std::string ignored;
    std::string output;
    RunCommand({"ip", "netns", "pids", name}, &output);
    std::istringstream in(output);
    int child;
    while (in >> child) kill(child, SIGKILL);
    RunCommand({"ip", "netns", "del", name}, &ignored);
  }
}

}  // namespace

bool IsRoot() { return geteuid() == 0; }

int EnterNetNamespace(const std::string& name) {
  const int old_fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int fd = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = old_fd >= 0 && fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
  if (fd >= 0) close(fd);
  if (!ok && old_fd >= 0) {
    close(old_fd);
    return -1;
  }
  return old_fd;
}

void LeaveNetNamespace(int old_fd) {
  if (old_fd < 0) return;
  setns(old_fd, CLONE_NEWNET);
  close(old_fd);
}

int RunCommand(const std::vector<std::string>& argv, std::string* output) {
  int pipe_fds[2] = {-1, -1};
  if (output && pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (output) {
      dup2(pipe_fds[1], 1);
      dup2(pipe_fds[1], 2);
    }
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    std::vector<char*> args;
    for (const auto& word : argv) args.push_back(const_cast<char*>(word.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (output) {
    close(pipe_fds[1]);
    output->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR)) {
      if (n > 0) output->append(buffer, static_cast<size_t>(n));
    }
    close(pipe_fds[0]);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> NetNamespace::Wrap(const std::vector<std::string>& argv) const {
  std::vector<std::string> wrapped = {"ip", "netns", "exec", name_};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

int NetNamespace::Exec(const std::vector<std::string>& argv, std::string* output) const {
  return RunCommand(Wrap(argv), output);
}

bool NetNamespace::AddAddress(const std::string& device, const std::string& cidr) const {
  return Ok({"ip", "-n", name_, "addr", "add", cidr, "dev", device});
}

bool NetNamespace::DeleteAddress(const std::string& device, const std::string& cidr) const {
  return Ok({"ip", "-n", name_, "addr", "del", cidr, "dev", device});
}

bool NetNamespace::SetUp(const std::string& device, bool up) const {
  return Ok({"ip", "-n", name_, "link", "set", device, up ? "up" : "down"});
}

bool NetNamespace::SetTbf(const std::string& device, const std::string& rate, int burst_bytes,
                          int latency_ms) const {
  std::string ignored;
  RunCommand({"tc", "-n", name_, "qdisc", "del", "dev", device, "root"}, &ignored);
  return Ok({"tc", "-n", name_, "qdisc", "add", "dev", device, "root", "tbf", "rate", rate, "burst",
             std::to_string(burst_bytes), "latency", std::to_string(latency_ms) + "ms"});
}

bool NetNamespace::SetInputLoss(int percent) const {
  std::string ignored;
  Exec({"nft", "delete", "table", "inet", "qnchat_loss"}, &ignored);
  if (percent <= 0) return true;
  if (!AddInputChain("qnchat_loss")) return false;
  return Ok(Wrap({"nft", "add rule inet qnchat_loss input numgen random mod 100 < " +
                             std::to_string(std::min(percent, 100)) + " counter drop"}));
}

int64_t NetNamespace::DroppedInput() const {
  std::string output;
  if (Exec({"nft", "list", "table", "inet", "qnchat_loss"}, &output) != 0) return -1;
  const size_t at = output.find("packets ");
  return at == std::string::npos ? -1 : std::stoll(output.substr(at + 8));
}

bool NetNamespace::AddInputChain(const std::string& table) const {
  std::string ignored;
  if (Exec({"nft", "list", "table", "inet", table}, &ignored) == 0) return true;
  return Ok(Wrap({"nft", "add table inet " + table})) &&
         Ok(Wrap({"nft", "add chain inet " + table +
                             " input { type filter hook input priority 0 ; policy accept ; }"}));
}

bool NetNamespace::DropInput(const std::string& match) const {
  if (!AddInputChain("qnchat_drop")) return false;
  return Ok(Wrap({"nft", "add rule inet qnchat_drop input " + match + " drop"}));
}

bool NetNamespace::ClearInputDrops() const {
  std::string ignored;
  Exec({"nft", "delete", "table", "inet", "qnchat_drop"}, &ignored);
  return true;
}

std::vector<int> NetNamespace::Pids() const {
  std::string output;
  RunCommand({"ip", "netns", "pids", name_}, &output);
  std::vector<int> pids;
  std::istringstream in(output);
  int pid;
  while (in >> pid) pids.push_back(pid);
  return pids;
}

Network::Network() : prefix_(std::string(kPrefix) + std::to_string(getpid()) + "-") {
  RemoveStale();
}

Network::~Network() {
  for (auto& host : hosts_) KillAndDelete(*host);
  if (hub_) KillAndDelete(*hub_);
}

std::string Network::Address(int subnet, int host) {
  return "198.18." + std::to_string(subnet) + "." + std::to_string(host);
}

NetNamespace* Network::NewNamespace(const std::string& tag) {
  const std::string name = prefix_ + std::to_string(counter_++) + "-" + tag;
  if (!Ok({"ip", "netns", "add", name})) return nullptr;
  auto* ns = new NetNamespace(name);
  if (!Ok({"ip", "-n", name, "link", "set", "lo", "up"})) {
    KillAndDelete(*ns);
    delete ns;
    return nullptr;
  }
  return ns;
}

NetNamespace* Network::AddHost(const std::string& tag) {
  NetNamespace* ns = NewNamespace(tag);
  if (!ns) return nullptr;
  hosts_.emplace_back(ns);
  return ns;
}

bool Network::Link(NetNamespace* a, const std::string& cidr_a, NetNamespace* b,
                   const std::string& cidr_b, int mtu, std::string* device_a,
                   std::string* device_b) {
  const std::string name_a = "eth" + std::to_string(a->next_device_++);
  const std::string name_b = "eth" + std::to_string(b->next_device_++);
  if (!Ok({"ip", "link", "add", name_a, "netns", a->name(), "mtu", std::to_string(mtu), "type",
           "veth", "peer", "name", name_b, "netns", b->name(), "mtu", std::to_string(mtu)})) {
    return false;
  }
  if (!cidr_a.empty() && !a->AddAddress(name_a, cidr_a)) return false;
  if (!cidr_b.empty() && !b->AddAddress(name_b, cidr_b)) return false;
  if (!a->SetUp(name_a, true) || !b->SetUp(name_b, true)) return false;
  if (device_a) *device_a = name_a;
  if (device_b) *device_b = name_b;
  return true;
}

NetNamespace* Network::Hub() {
  if (hub_) return hub_.get();
  NetNamespace* hub = NewNamespace("hub");
  if (!hub) return nullptr;
  hub_.reset(hub);
  if (!Ok({"ip", "-n", hub->name(), "link", "add", "br0", "type", "bridge", "mcast_snooping",
           "0"}) ||
      !hub->SetUp("br0", true)) {
    return nullptr;
  }
  return hub;
}

std::string Network::Join(NetNamespace* host, const std::string& cidr, int mtu) {
  NetNamespace* hub = Hub();
  if (!hub) return std::string();
  std::string device, port;
  if (!Link(host, cidr, hub, std::string(), mtu, &device, &port)) return std::string();
  if (!Ok({"ip", "-n", hub->name(), "link", "set", port, "master", "br0"})) return std::string();
  return device;
}

std::vector<NetNamespace*> Network::MakeSegment(int hosts, int subnet, int mtu) {
  std::vector<NetNamespace*> result;
  for (int i = 0; i < hosts; ++i) {
    NetNamespace* ns = AddHost("h" + std::to_string(i + 1));
    if (!ns) return {};
    result.push_back(ns);
  }
  const auto cidr = [&](int i) { return Address(subnet, i + 1) + "/24"; };
  if (hosts == 1) return result;
  if (hosts == 2) {
    if (!Link(result[0], cidr(0), result[1], cidr(1), mtu)) return {};
    return result;
  }
  for (int i = 0; i < hosts; ++i) {
    if (Join(result[i], cidr(i), mtu).empty()) return {};
  }
  return result;
}

}  // namespace qnchat_test
