// Landlock through its system calls (the C library has no wrappers), seccomp through
// libseccomp. Every step is best effort: a kernel without Landlock, or with an older version of
// it, gets what it offers, and a failure to confine leaves the conversion running as before.
#include "sandbox/Sandbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <link.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <seccomp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace scv::sandbox {
namespace {

// Access rights by the Landlock version that brought them; the system's header may be older
// than the kernel, so the values are spelled out.
constexpr std::uint64_t kFsV1 = (std::uint64_t{1} << 13) - 1; // execute .. make symlink
constexpr std::uint64_t kFsRefer = std::uint64_t{1} << 13;    // version 2
constexpr std::uint64_t kFsTruncate = std::uint64_t{1} << 14; // version 3
constexpr std::uint64_t kFsIoctlDev = std::uint64_t{1} << 15; // version 5
constexpr std::uint64_t kNetBindTcp = std::uint64_t{1} << 0;  // version 4
constexpr std::uint64_t kNetConnectTcp = std::uint64_t{1} << 1;
constexpr std::uint64_t kScopeAbstractUnix = std::uint64_t{1} << 0; // version 6
constexpr std::uint64_t kScopeSignal = std::uint64_t{1} << 1;

constexpr std::uint64_t kReadFile = LANDLOCK_ACCESS_FS_READ_FILE;
constexpr std::uint64_t kReadDir = LANDLOCK_ACCESS_FS_READ_DIR;
constexpr std::uint64_t kWriteFile = LANDLOCK_ACCESS_FS_WRITE_FILE;
// Everything a rule may grant on a file that is not a directory.
constexpr std::uint64_t kFileRights =
    LANDLOCK_ACCESS_FS_EXECUTE | kWriteFile | kReadFile | kFsTruncate | kFsIoctlDev;
// What changes the file system.
constexpr std::uint64_t kWriteRights =
    kWriteFile | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM | kFsRefer | kFsTruncate;

// The ruleset attribute of the newest version known here; a kernel of an older one accepts
// it as long as the fields it does not know are zero.
struct TRulesetAttr {
  std::uint64_t handledFs = 0;
  std::uint64_t handledNet = 0;
  std::uint64_t scoped = 0;
};

// Read-only paths the loaded libraries open on demand during a conversion: shared libraries
// opened on first use (the PDF engine and its dependencies) and the C library's character-set
// modules; locale and time-zone data; the PDF engine's fonts, font configuration and caches and
// its own data (character maps); processor counts; /proc for the parent's watch over the PDF
// worker's memory (Landlock keeps other processes' private entries closed regardless).
constexpr const char* kSystemReadPaths[] = {
    "/usr/lib",
    "/usr/lib64",
    "/lib",
    "/lib64",
    "/usr/local/lib",
    "/etc/ld.so.cache",
    "/usr/share/locale",
    "/usr/share/i18n",
    "/usr/share/zoneinfo",
    "/etc/localtime",
    "/usr/share/fonts",
    "/usr/local/share/fonts",
    "/etc/fonts",
    "/var/cache/fontconfig",
    "/usr/share/poppler",
    "/proc",
    "/sys/devices/system/cpu",
    "/dev/urandom",
};

// The user's own font configuration, fonts and font cache, below $HOME (or the XDG folders).
constexpr const char* kHomeReadPaths[] = {".config/fontconfig", ".fonts.conf", ".fonts",
                                          ".local/share/fonts", ".cache/fontconfig"};

#if defined(__SANITIZE_ADDRESS__)
#define SCV_SANDBOX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SCV_SANDBOX_SANITIZED 1
#endif
#endif

int LandlockVersion() {
  const long v = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  return v > 0 ? static_cast<int>(v) : 0;
}

bool SeccompFilterAvailable() {
  std::uint32_t action = SECCOMP_RET_ERRNO;
  return syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
}

class TRuleset {
public:
  explicit TRuleset(int version) : version_(version) {}
  ~TRuleset() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  TRuleset(const TRuleset&) = delete;
  TRuleset& operator=(const TRuleset&) = delete;

  // Creates the ruleset handling every right the kernel knows of those in fs (network and
  // scopes too when asked), so whatever no rule grants is refused.
  bool Create(std::uint64_t fs, bool netAndScopes) {
    TRulesetAttr attr;
    std::uint64_t known = kFsV1;
    known |= version_ >= 2 ? kFsRefer : 0;
    known |= version_ >= 3 ? kFsTruncate : 0;
    known |= version_ >= 5 ? kFsIoctlDev : 0;
    handled_ = fs & known;
    attr.handledFs = handled_;
    if (netAndScopes) {
      attr.handledNet = version_ >= 4 ? kNetBindTcp | kNetConnectTcp : 0;
      attr.scoped = version_ >= 6 ? kScopeAbstractUnix | kScopeSignal : 0;
    }
    fd_ = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
    return fd_ >= 0;
  }

  // Grants access beneath path (a folder) or to it (a file); a path that does not exist or
  // cannot be opened is left out. A file takes only the rights a file can have (the kernel
  // refuses the others). True, so grants chain with the other steps.
  bool Allow(const std::string& path, std::uint64_t access) {
    const int target = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (target < 0) {
      return true;
    }
    landlock_path_beneath_attr rule{};
    rule.allowed_access = access & handled_;
    rule.parent_fd = target;
    if (rule.allowed_access != 0 &&
        syscall(SYS_landlock_add_rule, fd_, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0 &&
        errno == EINVAL && (rule.allowed_access & ~kFileRights) != 0) {
      rule.allowed_access &= kFileRights;
      if (rule.allowed_access != 0) {
        syscall(SYS_landlock_add_rule, fd_, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
      }
    }
    close(target);
    return true;
  }

  bool Restrict() { return syscall(SYS_landlock_restrict_self, fd_, 0) == 0; }

private:
  int version_;
  int fd_ = -1;
  std::uint64_t handled_ = 0;
};

// The files of every loaded object (libscv, the converter libraries, the system libraries).
std::vector<std::string> LoadedObjects() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        if (name.starts_with('/')) {
          static_cast<std::vector<std::string>*>(data)->emplace_back(name);
        }
        return 0;
      },
      &names);
  return names;
}

// True when a rule for one of the system paths already covers folder.
bool BelowSystemPath(std::string_view folder) {
  for (const std::string_view path : kSystemReadPaths) {
    if (folder.starts_with(path) && (folder.size() == path.size() || folder[path.size()] == '/')) {
      return true;
    }
  }
  return false;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool ApplyLandlock(int version, std::string_view source) {
  TRuleset rules(version);
  if (source.empty()) {
    // A document from standard input is read back by the converters through the name of an
    // anonymous in-memory file, which no rule can name: reads stay open, writes do not.
    return rules.Create(kWriteRights, true) && rules.Allow("/dev/null", kWriteFile) &&
           rules.Restrict();
  }
  if (!rules.Create(~std::uint64_t{0}, true)) {
    return false;
  }
  const std::uint64_t read = kReadFile | kReadDir;
  if (!source.empty()) {
    // The source alone, whatever kind of file it is; a folder given as the source may be
    // listed (the conversion then fails as it always did) but nothing beneath it read.
    const std::string path(source);
    struct stat st {};
    rules.Allow(path, stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? kReadDir : kReadFile);
  }
  for (const char* path : kSystemReadPaths) {
    rules.Allow(path, read);
  }
  // A loaded library outside the system folders (a converter library beside the program)
  // stays readable, and so does the engine it opens beside itself on first use ("scvpdf.so"
  // opens "scvpdf_engine.so"); the folder itself does not, as it may be any folder.
  for (const std::string& name : LoadedObjects()) {
    if (!BelowSystemPath(name)) {
      rules.Allow(name, kReadFile);
      if (name.ends_with(".so")) {
        rules.Allow(name.substr(0, name.size() - 3) + "_engine.so", kReadFile);
      }
    }
  }
  const std::string home = Environment("HOME");
  if (!home.empty()) {
    for (const char* path : kHomeReadPaths) {
      rules.Allow(home + "/" + path, read);
    }
  }
  for (const char* xdg : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
    const std::string base = Environment(xdg);
    if (!base.empty()) {
      rules.Allow(base + "/fontconfig", read);
      rules.Allow(base + "/fonts", read);
    }
  }
  // Folders the environment names for the same data: locales (LOCPATH), character-set modules
  // (GCONV_PATH), time zones (TZDIR), libraries (LD_LIBRARY_PATH), font configuration.
  for (const char* list : {"LOCPATH", "GCONV_PATH", "TZDIR", "LD_LIBRARY_PATH", "FONTCONFIG_PATH",
                           "FONTCONFIG_FILE"}) {
    const std::string paths = Environment(list);
    std::size_t start = 0;
    while (start < paths.size()) {
      const std::size_t colon = std::min(paths.find(':', start), paths.size());
      if (colon > start) {
        rules.Allow(paths.substr(start, colon - start), read);
      }
      start = colon + 1;
    }
  }
  // The PDF worker puts /dev/null on its standard descriptors.
  rules.Allow("/dev/null", kReadFile | kWriteFile);
  return rules.Restrict();
}

// Refuses (EPERM, so the caller sees a failed call and the conversion fails as for any
// error) starting programs, every socket, and reaching into other processes; io_uring is
// refused too, as its operations would pass by the filter. Everything else is allowed, so the
// filter cannot break a library's or a sanitizer's ordinary work. A call of another
// architecture's system-call table (32-bit x86, and x32 on x86-64) kills the process
// (libseccomp's default).
bool ApplySeccomp() {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
  if (filter == nullptr) {
    return false;
  }
  const int refused[] = {
      SCMP_SYS(execve),
      SCMP_SYS(execveat),
      SCMP_SYS(socket),
      SCMP_SYS(socketpair),
      SCMP_SYS(connect),
      SCMP_SYS(bind),
      SCMP_SYS(listen),
      SCMP_SYS(accept),
      SCMP_SYS(accept4),
      SCMP_SYS(process_vm_readv),
      SCMP_SYS(process_vm_writev),
      SCMP_SYS(io_uring_setup),
      SCMP_SYS(io_uring_enter),
      SCMP_SYS(io_uring_register),
#ifndef SCV_SANDBOX_SANITIZED
      // The leak checker of a sanitized build stops the threads through ptrace at exit.
      SCMP_SYS(ptrace),
#endif
  };
  bool ok = true;
  for (const int call : refused) {
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0) == 0;
  }
  ok = ok && seccomp_load(filter) == 0;
  seccomp_release(filter);
  return ok;
}

} // namespace

bool SwitchedOff() {
  const char* value = std::getenv("SCV_NO_SANDBOX");
  return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

TProtections Available() {
  TProtections p;
  if (!SwitchedOff()) {
    p.landlock = LandlockVersion() > 0;
    p.seccomp = SeccompFilterAvailable();
  }
  return p;
}

std::string Describe(const TProtections& protections, bool switchedOff) {
  if (switchedOff) {
    return "off";
  }
  if (protections.landlock && protections.seccomp) {
    return "landlock, seccomp";
  }
  if (protections.landlock || protections.seccomp) {
    return protections.landlock ? "landlock" : "seccomp";
  }
  return "none";
}

TProtections ConfineConversion(std::string_view source, bool fileSystem) {
  TProtections p;
  if (SwitchedOff() || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    return p;
  }
  const int version = LandlockVersion();
  p.landlock = fileSystem && version > 0 && ApplyLandlock(version, source);
  p.seccomp = ApplySeccomp();
  return p;
}

TProtections ConfineWorker() {
  TProtections p;
  if (SwitchedOff() || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    return p;
  }
  p.seccomp = ApplySeccomp();
  return p;
}

} // namespace scv::sandbox
