// Our file server (HttpServerImpl with the file URI manager) against nginx
// serving the same files over 127.0.0.1, both single-process:
//  1. one 1 GiB file, downloaded by curl to /dev/null, alternating between
//     the two servers, five times each;
//  2. 64 curl clients at once, each fetching its own 1 MiB file repeatedly.
// Every download's byte count is checked, and each server's copy of the big
// file is checked against its MD5 once, before the timed runs. Prints the
// throughput of each, the servers' CPU time per GiB, the ratios
// ours / nginx, the listen-queue overflows (TcpExt ListenOverflows) and the
// targets. Exits non-zero when a download is short or wrong.
//
// Usage: file_server_bench [--size-mib N] [--rounds N] [--clients N]
//                          [--repeat N] [--dir DIR] [--nginx-keepalive on|off]
// With --nginx-keepalive off nginx also closes after every response, as ours
// does, so the concurrent figures compare serving without connection reuse.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chat/chat_file_uri_manager.h"
#include "chat_http/http_server_impl.h"
#include "base/log.h"
#include "support/shell_output.h"

namespace {

struct Options {
  int size_mib = 1024;
  int rounds = 5;
  int clients = 64;
  int repeat = 16;        // downloads per client in the concurrent run
  bool keepalive = true;  // nginx keeps connections; ours closes after each response
  std::string dir = "/tmp";
};

void QuietSink(int level, const char* format, va_list args, void*) {
  if (level > kLogWarning) return;
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double SelfCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  const size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream fields(stat.substr(paren + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return static_cast<double>(utime + stime) / sysconf(_SC_CLK_TCK);
}

// The kernel's count of connections dropped because a listen backlog was
// full (TcpExt ListenOverflows); -1 when unreadable.
long long ListenOverflows() {
  std::ifstream in("/proc/net/netstat");
  std::string names, values;
  while (std::getline(in, names) && std::getline(in, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value)
      if (name == "ListenOverflows") return std::atoll(value.c_str());
  }
  return -1;
}

std::string Run(const std::string& command) { return qnchat_test::ShellOutput(command); }

bool WriteFile(const std::string& path, int64_t size, unsigned seed) {
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::vector<char> block(1 << 20);
  std::mt19937 gen(seed);
  for (char& c : block) c = static_cast<char>(gen());
  for (int64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(block.size(), size - done));
    block[0] = static_cast<char>(done >> 20);  // no two mebibytes alike
    if (write(fd, block.data(), n) != static_cast<ssize_t>(n)) {
      close(fd);
      return false;
    }
    done += static_cast<int64_t>(n);
  }
  return close(fd) == 0;
}

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(addr);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

bool Accepting(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

// nginx from a private prefix and config on a loopback port: one process,
// in the foreground, as the current user, sendfile on.
class Nginx {
 public:
  bool Start(const std::string& prefix, const std::string& root, int port, bool keepalive) {
    port_ = port;
    const std::string conf = prefix + "/nginx.conf";
    std::ofstream out(conf);
    if (geteuid() == 0) {
      const passwd* pw = getpwuid(geteuid());
      out << "user " << (pw ? pw->pw_name : "root") << ";\n";
    }
    out << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        << "pid " << prefix << "/nginx.pid;\n"
        << "error_log " << prefix << "/error.log warn;\n"
        << "events { worker_connections 1024; }\n"
        << "http {\n"
        << "  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
        << (keepalive ? "" : "  keepalive_timeout 0;\n")
        << "  default_type application/octet-stream;\n"
        << "  client_body_temp_path " << prefix << "/body;\n"
        << "  proxy_temp_path " << prefix << "/proxy;\n"
        << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
        << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
        << "  scgi_temp_path " << prefix << "/scgi;\n"
        << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root << ";\n  }\n"
        << "}\n";
    out.close();
    if (!out) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      const std::string log = prefix + "/error.log";
      execlp("nginx", "nginx", "-p", prefix.c_str(), "-e", log.c_str(), "-c", conf.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
      if (Accepting(port_)) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  ~Nginx() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// Processor time of every thread of a process in nanoseconds from the
// scheduler (/proc/PID/task/*/schedstat): clock ticks (10 ms) are too coarse
// for a transfer that costs a few tens of milliseconds. -1 when unreadable.
double SchedulerCpuSeconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (!dir) return -1;
  double total = 0;
  bool any = false;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
    unsigned long long ns = 0;
    if (in >> ns) {
      total += ns / 1e9;
      any = true;
    }
  }
  closedir(dir);
  return any ? total : -1;
}

// One server as the benchmark sees it: a base URL, a path per file, and how
// to read the server's CPU time.
struct Target {
  std::string name;
  std::string base;
  std::string big_path;
  std::vector<std::string> small_paths;
  pid_t pid = 0;  // 0: this process
  double Cpu() const {
    const double precise = SchedulerCpuSeconds(pid ? pid : getpid());
    if (precise >= 0) return precise;
    return pid ? ProcessCpuSeconds(pid) : SelfCpuSeconds();
  }
};

struct Sample {
  double seconds = 0;
  double cpu = 0;
  int64_t bytes = 0;
  long long overflows = 0;  // listen backlog drops during the sample
};

// One download of the big file; bytes is what curl received.
Sample BigDownload(const Target& t) {
  Sample s;
  const double cpu = t.Cpu();
  const double start = Now();
  const std::string out = Run("curl -s -o /dev/null -w '%{size_download}' " + t.base + t.big_path);
  s.seconds = Now() - start;
  s.cpu = t.Cpu() - cpu;
  s.bytes = std::atoll(out.c_str());
  return s;
}

// All clients at once, each fetching its own small file repeat times in one
// curl process; bytes is the sum over every download.
Sample ConcurrentDownloads(const Target& t, int clients, int repeat) {
  std::string command = "(";
  for (int c = 0; c < clients; ++c) {
    command += "curl -s";
    for (int r = 0; r < repeat; ++r) command += " -o /dev/null";
    command += " -w '%{size_download}\\n'";
    const std::string url = t.base + t.small_paths[c % t.small_paths.size()];
    for (int r = 0; r < repeat; ++r) command += " " + url;
    command += " & ";
  }
  command += "wait)";
  Sample s;
  const long long overflows = ListenOverflows();
  const double cpu = t.Cpu();
  const double start = Now();
  const std::string out = Run(command);
  s.seconds = Now() - start;
  s.cpu = t.Cpu() - cpu;
  s.overflows = ListenOverflows() - overflows;
  std::istringstream lines(out);
  long long n;
  while (lines >> n) s.bytes += n;
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

constexpr double kMiB = 1024.0 * 1024.0;

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--size-mib")
      o.size_mib = std::atoi(argv[i + 1]);
    else if (flag == "--rounds")
      o.rounds = std::atoi(argv[i + 1]);
    else if (flag == "--clients")
      o.clients = std::atoi(argv[i + 1]);
    else if (flag == "--repeat")
      o.repeat = std::atoi(argv[i + 1]);
    else if (flag == "--dir")
      o.dir = argv[i + 1];
    else if (flag == "--nginx-keepalive")
      o.keepalive = std::string(argv[i + 1]) != "off";
    else {
      fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (o.size_mib < 1 || o.rounds < 1 || o.clients < 1 || o.repeat < 1) {
    fprintf(stderr, "sizes and counts must be positive\n");
    return 2;
  }
  SetLogSink(QuietSink, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (Run("command -v nginx").empty() || Run("command -v curl").empty()) {
    fprintf(stderr, "needs nginx and curl: scripts/install-deps.sh bench\n");
    return 2;
  }

  std::string pattern = o.dir + "/qnchat_file_bench_XXXXXX";
  if (!mkdtemp(pattern.data())) {
    perror("mkdtemp");
    return 2;
  }
  const std::string dir = pattern;
  const std::string root = dir + "/www";
  mkdir(root.c_str(), 0755);
  struct Cleanup {
    std::string dir;
    ~Cleanup() { Run("rm -rf '" + dir + "'"); }
  } cleanup{dir};

  const int64_t big_size = int64_t{o.size_mib} << 20;
  const int64_t small_size = 1 << 20;
  printf("writing %d MiB and %d x 1 MiB files under %s\n", o.size_mib, o.clients, dir.c_str());
  fflush(stdout);
  if (!WriteFile(root + "/big", big_size, 1)) {
    perror("write big");
    return 2;
  }
  for (int c = 0; c < o.clients; ++c)
    if (!WriteFile(root + "/small" + std::to_string(c), small_size, 100 + c)) {
      perror("write small");
      return 2;
    }
  const std::string md5 = Run("md5sum < '" + root + "/big' | cut -c1-32");

  // Ours, in this process, published exactly as the chat core does it.
  chat::ChatFileUriManager manager;
  auto server = chat_base::MakeRefCounted<chat_http::HttpServerImpl>();
  server->AddHandler(
      chat::ChatFileUriManager::kUriPattern,
      [&manager](const chat_http::HttpRequest& request, chat_http::HttpResponse& response) {
        manager.OnRequest(request, response);
      });
  if (!server->Listen("127.0.0.1", 0)) {
    fprintf(stderr, "our server did not start\n");
    return 2;
  }
  Target ours{"ours",
              "http://127.0.0.1:" + std::to_string(server->GetPort()) + "/",
              manager.Publish(root + "/big"),
              {},
              0};
  for (int c = 0; c < o.clients; ++c)
    ours.small_paths.push_back(manager.Publish(root + "/small" + std::to_string(c)));

  Nginx nginx;
  if (!nginx.Start(dir, root, FreeLoopbackPort(), o.keepalive)) {
    fprintf(stderr, "nginx did not start; see %s/error.log\n", dir.c_str());
    Run("cat '" + dir + "/error.log' >&2");
    return 2;
  }
  Target theirs{
      "nginx", "http://127.0.0.1:" + std::to_string(nginx.port()) + "/", "big", {}, nginx.pid()};
  for (int c = 0; c < o.clients; ++c) theirs.small_paths.push_back("small" + std::to_string(c));

  // Correctness first (this also brings the files into the page cache).
  int failures = 0;
  for (const Target* t : {&ours, &theirs}) {
    const std::string got = Run("curl -s " + t->base + t->big_path + " | md5sum | cut -c1-32");
    if (got != md5) {
      fprintf(stderr, "%s: big file checksum %s, expected %s\n", t->name.c_str(), got.c_str(),
              md5.c_str());
      ++failures;
    }
  }
  if (failures) return 1;

  printf("\nsingle stream, %d MiB file, %d rounds each, alternating\n", o.size_mib, o.rounds);
  std::vector<double> rate[2], cpu[2];
  for (int r = 0; r < o.rounds; ++r) {
    for (int k = 0; k < 2; ++k) {
      // Alternate which server goes first, so neither always follows the other.
      const Target& t = ((r + k) % 2 == 0) ? ours : theirs;
      const int slot = &t == &ours ? 0 : 1;
      const Sample s = BigDownload(t);
      if (s.bytes != big_size) {
        fprintf(stderr, "%s: received %lld of %lld bytes\n", t.name.c_str(),
                static_cast<long long>(s.bytes), static_cast<long long>(big_size));
        ++failures;
        continue;
      }
      rate[slot].push_back(s.bytes / kMiB / s.seconds);
      cpu[slot].push_back(s.cpu / (s.bytes / kMiB / 1024.0));
      printf("  round %d %-5s %8.1f MiB/s  server CPU %.3f s/GiB\n", r + 1, t.name.c_str(),
             rate[slot].back(), cpu[slot].back());
      fflush(stdout);
    }
  }
  const double single_ours = Median(rate[0]), single_nginx = Median(rate[1]);
  const double single_cpu_ours = Median(cpu[0]), single_cpu_nginx = Median(cpu[1]);

  printf("\n%d concurrent clients, %d downloads of 1 MiB each, %d rounds each, alternating%s\n",
         o.clients, o.repeat, o.rounds, o.keepalive ? "" : " (nginx without keep-alive)");
  std::vector<double> crate[2], ccpu[2];
  long long overflows[2] = {0, 0};
  const int64_t concurrent_bytes = int64_t{o.clients} * o.repeat * small_size;
  for (int r = 0; r < o.rounds; ++r) {
    for (int k = 0; k < 2; ++k) {
      const Target& t = ((r + k) % 2 == 0) ? ours : theirs;
      const int slot = &t == &ours ? 0 : 1;
      const Sample s = ConcurrentDownloads(t, o.clients, o.repeat);
      if (s.bytes != concurrent_bytes) {
        fprintf(stderr, "%s: received %lld of %lld bytes\n", t.name.c_str(),
                static_cast<long long>(s.bytes), static_cast<long long>(concurrent_bytes));
        ++failures;
        continue;
      }
      overflows[slot] += s.overflows;
      crate[slot].push_back(s.bytes / kMiB / s.seconds);
      ccpu[slot].push_back(s.cpu / (s.bytes / kMiB / 1024.0));
      printf("  round %d %-5s %8.1f MiB/s  server CPU %.3f s/GiB  listen overflows %lld\n", r + 1,
             t.name.c_str(), crate[slot].back(), ccpu[slot].back(), s.overflows);
      fflush(stdout);
    }
  }
  const double conc_ours = Median(crate[0]), conc_nginx = Median(crate[1]);

  printf("\nmedians                      ours      nginx   ours/nginx\n");
  printf("single stream MiB/s     %9.1f  %9.1f   %6.2f\n", single_ours, single_nginx,
         single_nginx > 0 ? single_ours / single_nginx : 0);
  printf("single stream CPU s/GiB %9.3f  %9.3f   %6.2f\n", single_cpu_ours, single_cpu_nginx,
         single_cpu_nginx > 0 ? single_cpu_ours / single_cpu_nginx : 0);
  printf("%2d clients MiB/s        %9.1f  %9.1f   %6.2f\n", o.clients, conc_ours, conc_nginx,
         conc_nginx > 0 ? conc_ours / conc_nginx : 0);
  printf("%2d clients CPU s/GiB    %9.3f  %9.3f   %6.2f\n", o.clients, Median(ccpu[0]),
         Median(ccpu[1]), Median(ccpu[1]) > 0 ? Median(ccpu[0]) / Median(ccpu[1]) : 0);
  printf("%2d clients listen overflows, all rounds: ours %lld, nginx %lld\n", o.clients,
         overflows[0], overflows[1]);
  const double conc_ratio = conc_nginx > 0 ? conc_ours / conc_nginx : 0;
  const double cpu_ratio = single_cpu_nginx > 0 ? single_cpu_ours / single_cpu_nginx : 0;
  printf("target %d clients ours/nginx >= 0.90: %.2f, %s\n", o.clients, conc_ratio,
         conc_ratio >= 0.9 ? "met" : "not met");
  printf("target no listen overflow during ours: %lld, %s\n", overflows[0],
         overflows[0] == 0 ? "met" : "not met");
  printf("target single-stream CPU per GiB ours/nginx <= 1.20: %.2f, %s\n", cpu_ratio,
         cpu_ratio > 0 && cpu_ratio <= 1.2 ? "met" : "not met");
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3)
    printf("load average at the end: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  return failures ? 1 : 0;
}
