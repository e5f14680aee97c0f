#include "cli.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cli {

namespace {

int removeone(const char *path, const struct stat *, int, struct FTW *) {
  return ::remove(path);
}

// What the build wrote down, unless the environment says otherwise: the
// emulated ARM system runs these tests where the build folder does not exist.
std::string setting(const char *name, const char *built) {
  const char *given = std::getenv(name);
  return given ? given : built;
}

std::vector<std::string> launcher() {
  std::vector<std::string> words;
  std::stringstream all(setting("VARNOCK_TEST_LAUNCHER", VARNOCK_LAUNCHER));
  for (std::string w; std::getline(all, w, '|');)
    if (!w.empty()) words.push_back(w);
  return words;
}

void redirect(int target, const char *path, int flags) {
  int fd = ::open(path, flags, 0644);
  if (fd < 0) _exit(126);
  ::dup2(fd, target);
  ::close(fd);
}

[[noreturn]] void child(const std::vector<std::string> &argv, const std::string &dir,
                        const std::string &outp, const std::string &errp, Options opts) {
  // Everything that allocates comes before the cap on the address space: the
  // test program itself is already larger than the caps that tests choose.
  std::vector<std::string> words = launcher();
  if (!opts.strace.empty()) {
    words.insert(words.end(), {"strace", "-f", "-qq", "-o", "/dev/null"});
    // LeakSanitizer cannot run under ptrace, and ends the tool when it tries.
    ::putenv(const_cast<char *>("LSAN_OPTIONS=detect_leaks=0"));
  }
  for (const auto &arg : opts.strace) {
    // strace says on standard error when it resolves a path that -P names:
    // hand it the resolved path, as seen from the child's folder.
    std::string path = arg[0] == '/' ? arg : dir + "/" + arg;
    char *real = words.back() == "-P" ? ::realpath(path.c_str(), nullptr) : nullptr;
    words.push_back(real ? real : arg);
    std::free(real);
  }
  words.push_back((opts.bindir.empty() ? bindir() : opts.bindir) + "/" + argv[0]);
  words.insert(words.end(), argv.begin() + 1, argv.end());
  std::vector<char *> ptrs;
  for (auto &w : words) ptrs.push_back(w.data());
  ptrs.push_back(nullptr);
  if (!opts.env.empty()) ::putenv(opts.env.data());
  if (opts.uid >= 0 && ::geteuid() == 0 && ::setuid(static_cast<uid_t>(opts.uid)) != 0) _exit(126);
  if (::chdir(dir.c_str()) != 0) _exit(126);
  redirect(0, "/dev/null", O_RDONLY);
  if (opts.mode == Stdout::capture) redirect(1, outp.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
  if (opts.mode == Stdout::full) redirect(1, "/dev/full", O_WRONLY);
  if (opts.mode == Stdout::null) redirect(1, "/dev/null", O_WRONLY);
  if (opts.mode == Stdout::closed) ::close(1);
  redirect(2, errp.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
  struct rlimit fsize = {opts.fsize, opts.fsize};
  if (opts.fsize && ::setrlimit(RLIMIT_FSIZE, &fsize) != 0) _exit(126);
  struct rlimit cap = {opts.memory, opts.memory};
  if (opts.memory && ::setrlimit(RLIMIT_AS, &cap) != 0) _exit(126);
  ::alarm(opts.timeout);
  ::execvp(ptrs[0], ptrs.data());
  _exit(127);
}

} // namespace

std::string bindir() {
  return setting("VARNOCK_TEST_BIN_DIR", VARNOCK_BIN_DIR);
}

bool emulated() {
  return !launcher().empty();
}

const char *uncappable() {
#if defined(__SANITIZE_ADDRESS__)
  return "the sanitizer's shadow memory needs more address space than any cap";
#endif
  if (emulated()) return "user-mode emulation keeps the cap from the program";
  return "";
}

const char *unstraceable() {
  if (emulated()) return "under user-mode emulation the tool's calls are the emulator's own";
  if (std::system("strace -V >/dev/null 2>&1") != 0) return "strace is not installed";
  return "";
}

Folder::Folder() {
  const char *tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnock-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path = tmpl;
}

Folder::~Folder() {
  ::nftw(path.c_str(), removeone, 16, FTW_DEPTH | FTW_PHYS);
}

void put(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string get(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void putfiles(const Folder &dir, const Files &files) {
  for (const auto &[name, bytes] : files) {
    std::string path = dir.at(name);
    bool made = true;
    if (name.back() == '/')
      made = ::mkdir(path.c_str(), 0755) == 0;
    else if (bytes.rfind("->", 0) == 0)
      made = ::symlink(bytes.c_str() + 2, path.c_str()) == 0;
    else
      put(path, bytes);
    if (!made) throw std::runtime_error("cannot make " + path);
  }
}

bool inmemory(const std::string &dir) {
  struct statfs fs;
  if (::statfs(dir.c_str(), &fs) != 0) return false;
  auto type = static_cast<unsigned long>(fs.f_type);
  return type == 0x01021994 || type == 0x858458f6; // tmpfs, ramfs
}

int skiprow(const std::string &why) {
  const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::printf("[  SKIPPED ROW ] %s.%s: %s\n", test->test_suite_name(), test->name(), why.c_str());
  return 1;
}

void expect(const Outcome &got, const std::string &out, int status) {
  EXPECT_EQ(got.out, out);
  EXPECT_EQ(got.status, status);
  EXPECT_EQ(got.err, "");
}

void expect_steps(const std::string &dir, const std::vector<Case> &cases) {
  for (const auto &c : cases) {
    SCOPED_TRACE(joined(c.argv));
    expect(run(c.argv, dir, c.opts), c.out, c.status);
  }
}

void expect_cases(const Files &files, const std::vector<Case> &cases) {
  for (const auto &c : cases) {
    Folder dir;
    putfiles(dir, files);
    expect_steps(dir.path, {c});
  }
}

Tmpfs::Tmpfs(const std::string &at, unsigned long long size) : path(at) {
  std::string opts = "size=" + std::to_string(size);
  if (::mkdir(path.c_str(), 0755) != 0 ||
      ::mount("tmpfs", path.c_str(), "tmpfs", 0, opts.c_str()) != 0) {
    why = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    path.clear();
  }
}

Tmpfs::~Tmpfs() {
  // Lazily: a loop device may still hold a file of it for a moment, and the
  // folder's removal must not walk into it.
  if (!path.empty()) ::umount2(path.c_str(), MNT_DETACH);
}

Loop::Loop(const std::string &file, bool readonly) {
  if (::geteuid() != 0) {
    why = "loop devices need root";
    return;
  }
  // Busybox's losetup has no --show: ask for a free device, then attach it;
  // again where a test running beside this one took it in between.
  std::string cmd = "for try in 1 2 3 4 5 6 7 8; do d=$(losetup -f) && losetup " +
                    std::string(readonly ? "-r " : "") + "\"$d\" '" + file +
                    "' && echo \"$d\" && exit 0; sleep 0.2; done 2>/dev/null; exit 1";
  FILE *p = ::popen(cmd.c_str(), "r");
  char line[256] = {};
  if (p && std::fgets(line, sizeof line, p)) dev = line;
  int status = p ? ::pclose(p) : -1;
  if (!dev.empty() && dev.back() == '\n') dev.pop_back();
  if (status != 0 || dev.rfind("/dev/", 0) != 0) {
    dev.clear();
    why = "losetup could not attach a loop device";
  }
}

Loop::~Loop() {
  if (dev.empty()) return;
  // A device left attached does not change the test's verdict, and a
  // destructor has no one to tell.
  [[maybe_unused]] int detached = std::system(("losetup -d " + dev).c_str());
}

Outcome run(const std::vector<std::string> &argv, const std::string &dir, Options opts) {
  Folder capture;
  ::chmod(capture.path.c_str(), 0777); // reachable when the child drops to another user
  std::string outp = capture.at("out"), errp = capture.at("err");
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) child(argv, dir, outp, errp, opts);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return {status, get(outp), get(errp)};
}

Options asnobody(const Folder &dir) {
  if (::geteuid() != 0) return {};
  ::chmod(dir.path.c_str(), 0755);
  put(dir.at("varnock"), get(bindir() + "/varnock"));
  ::chmod(dir.at("varnock").c_str(), 0755);
  for (const char *link : {"varnock-search", "varnock-cmp", "varnock-explain"})
    if (::symlink("varnock", dir.at(link).c_str()) != 0 && errno != EEXIST)
      throw std::runtime_error("cannot link " + dir.at(link));
  return {.uid = nobody, .bindir = dir.path};
}

unsigned long long smallest_cap(const std::vector<std::string> &argv, const std::string &dir,
                                Options opts) {
  constexpr unsigned long long step = 4 << 10;
  auto fits = [&](unsigned long long steps) {
    opts.memory = steps * step;
    Outcome got = run(argv, dir, opts);
    return got.status == 0 && got.err.empty();
  };
  unsigned long long lo = 0, hi = (1ULL << 30) / step;
  if (!fits(hi)) return 0;
  while (hi - lo > 1) {
    unsigned long long mid = (lo + hi) / 2;
    (fits(mid) ? hi : lo) = mid;
  }
  return hi * step;
}

Outcome runfed(const std::vector<std::string> &argv, const std::string &dir, const Files &fifos,
               Options opts) {
  std::vector<pid_t> writers;
  for (const auto &[name, bytes] : fifos) {
    std::string path = dir + "/" + name;
    if (::mkfifo(path.c_str(), 0644) != 0 && errno != EEXIST)
      throw std::runtime_error("cannot make " + path);
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      ::alarm(60);
      int fd = ::open(path.c_str(), O_WRONLY);
      if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        _exit(1);
      _exit(0);
    }
    writers.push_back(pid);
  }
  Outcome got = run(argv, dir, opts);
  for (pid_t pid : writers) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return got;
}

std::string hexbytes(unsigned from, unsigned to) {
  std::string s;
  for (unsigned b = from; b <= to; b++) s += static_cast<char>(b);
  return s;
}

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

std::string hextext(const std::string &bytes) {
  std::string s;
  for (unsigned char b : bytes) {
    char text[4];
    std::snprintf(text, sizeof text, " %02x", b);
    s += text;
  }
  return s;
}

std::string joined(const std::vector<std::string> &argv) {
  std::string s;
  for (const auto &a : argv) s += (s.empty() ? "'" : " '") + a + "'";
  return s;
}

} // namespace cli
