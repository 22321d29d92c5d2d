// Real folders and files for tests, removed again at the end of each test.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
  public:
    // Made below $TMPDIR (or /tmp); `base` picks another parent, such as /dev/shm, where there is one.
    explicit TempDir(const std::string& base = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // The path of `name` inside this folder.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& contents);
// Fails the test when it can't be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListNames(const std::string& folder);
// Runs a shell command; returns its exit status and puts its standard output in *output when given.
int RunCommand(const std::string& command, std::string* output = nullptr);
// The members of an archive (name -> bytes) that both Python's zipfile and `unzip -t` read whole; with
// `whole`, none unless they read every member whole.
std::optional<std::map<std::string, std::string>> ReadArchive(const std::string& path, bool whole = true);
// `size` bytes that begin as a JPEG does and with `name`, then are noise that does not compress: distinct
// for each name, so that a mix-up of two pictures can't go unseen.
std::string Noise(const std::string& name, size_t size);
// Single-quotes a string for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace testsupport
