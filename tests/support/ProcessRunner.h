// Runs the built program (or any command) and captures what it writes.
#pragma once

#include <string>
#include <vector>

namespace scv::test {

struct TRunResult {
  int exitCode = -1; // 0-255, or -1 when the program did not exit normally
  std::string out;   // standard output, bytes
  std::string err;   // standard error, bytes
};

// Runs program with args (no shell). env entries "NAME=value" are added to the environment;
// workDir, when not empty, is the working directory.
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}, const std::string& workDir = {});

// Runs the built scvcmd with LC_ALL=C unless env sets it.
TRunResult RunScvcmd(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     const std::string& workDir = {});

// A fresh empty directory under the system's temporary folder, removed by the destructor.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Writes bytes to a file in the directory and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;

private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);

} // namespace scv::test
