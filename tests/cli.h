// Runs the built tools as a user would: real files in a fresh folder, a real
// child process, its standard output and error captured.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace cli {

enum class Stdout { capture, full, closed, null };

struct Outcome {
  int status; // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Name and bytes of each file to lay out. A name ending in "/" makes a
// folder, and bytes beginning with "->" make a symbolic link to the rest.
using Files = std::vector<std::pair<std::string, std::string>>;

// A folder under the system's temporary folder, removed with its contents.
struct Folder {
  std::string path;
  Folder();
  ~Folder();
  Folder(const Folder &) = delete;
  Folder &operator=(const Folder &) = delete;
  std::string at(const std::string &name) const { return path + "/" + name; }
};

// A tmpfs of the given size mounted on a new folder at path, unmounted lazily
// at the end. Needs root; where it cannot be mounted, why says so.
struct Tmpfs {
  std::string path, why;
  Tmpfs(const std::string &at, unsigned long long size);
  ~Tmpfs();
  Tmpfs(const Tmpfs &) = delete;
  Tmpfs &operator=(const Tmpfs &) = delete;
};

// A loop block device over a file, read-only where asked, detached again at
// the end. Needs root and losetup; where either is missing, dev stays empty
// and why says so.
struct Loop {
  std::string dev, why;
  explicit Loop(const std::string &file, bool readonly = false);
  ~Loop();
  Loop(const Loop &) = delete;
  Loop &operator=(const Loop &) = delete;
};

void put(const std::string &path, const std::string &bytes);
std::string get(const std::string &path);
void putfiles(const Folder &dir, const Files &files);

// The folder that holds the tools, and whether they run under user-mode
// emulation. The build decides both; VARNOCK_TEST_BIN_DIR and
// VARNOCK_TEST_LAUNCHER in the environment override them.
std::string bindir();
bool emulated();
// Why a cap on the child's address space cannot be tested here, or "".
const char *uncappable();
// Why the kernel's calls cannot be made to fail here (strace's fault
// injection), or "".
const char *unstraceable();

// argv[0] names the tool ("varnock", "varnock-search" or "varnock-cmp"); the
// child runs in dir with standard input on /dev/null and is killed after
// timeout seconds.
struct Options {
  Stdout mode = Stdout::capture;
  unsigned timeout = 60;
  int uid = -1;                  // run as this user when the tests run as root
  unsigned long long memory = 0; // cap on the child's address space, 0 for none
  unsigned long long fsize = 0;  // the child's file size limit, 0 for none
  std::string env = {};          // one more NAME=value in the child's environment
  std::string bindir = {};       // where the tool is, when not the build folder
  // Arguments for strace, which then runs the tool and fails the calls that
  // its -e inject=... names, on the files that -P names (see unstraceable).
  std::vector<std::string> strace = {};
};

// A row of a table: a run, and the output and status it must have.
struct Case {
  std::vector<std::string> argv;
  std::string out;
  int status;
  Options opts = {};
};
Outcome run(const std::vector<std::string> &argv, const std::string &dir, Options opts = {});

// The uid of an ordinary user that tests run tools as, when they run as root.
constexpr int nobody = 65534;
// Options that run the tools as that user where the tests run as root, from
// a copy in dir (the build folder may lie where that user cannot reach it,
// under a home folder of mode 0700); as they are otherwise.
Options asnobody(const Folder &dir);

// The smallest cap on the address space, in steps of 4 KiB, under which the
// run ends with status 0 and nothing on standard error; 0 if none up to 1 GiB.
// Measured at run time, since the loader and C library decide most of it.
unsigned long long smallest_cap(const std::vector<std::string> &argv, const std::string &dir,
                                Options opts = {});

// Runs argv as run() does while a writer feeds each FIFO of dir (name and
// bytes; made where missing). Writers that their reader left waiting are
// stopped afterwards.
Outcome runfed(const std::vector<std::string> &argv, const std::string &dir, const Files &fifos,
               Options opts = {});

// Whether the folder is in memory (tmpfs or ramfs), where nothing is read
// back from a medium.
bool inmemory(const std::string &dir);

// A row of a table that cannot run here: its reason is printed, and the
// rest of the table runs. Returns 1, to count the rows skipped: a table none
// of whose rows could run is skipped whole.
int skiprow(const std::string &why);

// Expects a run's standard output and status, and nothing on standard error.
void expect(const Outcome &got, const std::string &out, int status);

// Runs each case in a fresh folder holding files and expects its output and
// status, and nothing at all on standard error.
void expect_cases(const Files &files, const std::vector<Case> &cases);
// The same for cases run one after the other in dir, each seeing what the
// ones before it wrote.
void expect_steps(const std::string &dir, const std::vector<Case> &cases);

std::string hexbytes(unsigned from, unsigned to); // bytes from..to as a string
std::string bytes(std::initializer_list<int> list);
// " xx" for each byte, rendered with snprintf, apart from the code under test.
std::string hextext(const std::string &bytes);
std::string joined(const std::vector<std::string> &argv);

} // namespace cli
