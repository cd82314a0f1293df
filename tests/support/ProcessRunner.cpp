// Runs the built program (or any command) and captures what it writes.
#include "support/ProcessRunner.h"

#include "support/TestPaths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace scv::test {

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env, const std::string& workDir) {
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> envStrings;
  // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic): environ ends at a null entry
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool overridden = false;
    for (const auto& add : env) {
      const auto eq = add.find('=');
      if (entry.compare(0, eq + 1, add, 0, eq + 1) == 0) {
        overridden = true;
      }
    }
    if (!overridden) {
      envStrings.push_back(entry);
    }
  }
  envStrings.insert(envStrings.end(), env.begin(), env.end());

  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
      dup2(devNull, 0);
    }
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) {
      _exit(127);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
      argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (auto& e : envStrings) {
      envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  TRunResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        } else {
          (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
        }
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TRunResult RunScvcmd(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& workDir) {
  std::vector<std::string> fullEnv = {"LC_ALL=C"};
  fullEnv.insert(fullEnv.end(), env.begin(), env.end());
  return RunProgram(ScvcmdPath(), args, fullEnv, workDir);
}

TTempDir::TTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "scvtest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TTempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string path = File(name);
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

} // namespace scv::test
