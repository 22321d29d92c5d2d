#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir(const std::string& base) {
    // $TMPDIR, else /tmp
    const std::string parent =
        !base.empty() && fs::is_directory(base) ? base : fs::temp_directory_path().string();
    m_path = parent + "/tovaro-test-XXXXXX";
    if (::mkdtemp(m_path.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder in " << parent;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

bool Exists(const std::string& path) {
    return fs::exists(fs::symlink_status(path));
}

void MakeFolder(const std::string& path) {
    ASSERT_TRUE(fs::create_directory(path)) << path;
}

std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : fs::directory_iterator(folder, missing)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string text;
    char buffer[4096];
    for (size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        text.append(buffer, n);
    }
    const int status = pipe != nullptr ? ::pclose(pipe) : -1;
    if (output != nullptr) {
        *output = text;
    }
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<std::map<std::string, std::string>> ReadArchive(const std::string& path, bool whole) {
    // Also whether the members follow one another without a byte between them up to the central directory:
    // readers skip such bytes, but they are what a failed member left behind.
    const char* script =
        "import struct, sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nat = 0\n"
        "for i in sorted(z.infolist(), key=lambda i: i.header_offset):\n"
        "  z.fp.seek(i.header_offset)\n  n = sum(struct.unpack('<HH', z.fp.read(30)[26:]))\n"
        "  at = i.header_offset + 30 + n + i.compress_size if at == i.header_offset else -1\n"
        "print('gap' if at != z.start_dir else 'tight')\nfor i in z.infolist():\n"
        "  try: print(i.filename, z.read(i).hex())\n  except Exception: print('?')";
    std::string out, tested;
    const bool tests = RunCommand("unzip -t " + ShellQuote(path) + " 2>&1", &tested) == 0;
    if (RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(path) + " 2>/dev/null", &out) != 0 ||
        !out.starts_with("tight\n") || (whole && (!tests || out.find("?\n") != std::string::npos))) {
        return std::nullopt;
    }
    std::map<std::string, std::string> members;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
        const size_t space = out.rfind(' ', end);
        const std::string name = out.substr(at, space - at);
        if (space < at || tested.find("testing: " + name + "   OK\n") == std::string::npos) {
            // A member one of the readers can't read whole.
            continue;
        }
        std::string& bytes = members[name];
        for (size_t i = space + 1; i + 1 < end; i += 2) {
            bytes.push_back(static_cast<char>(std::stoi(out.substr(i, 2), nullptr, 16)));
        }
    }
    return members;
}

std::string Noise(const std::string& name, size_t size) {
    // A sweep asks for the same a thousand times.
    static std::map<std::string, std::string> made;
    std::string& bytes = made[name];
    if (bytes.size() < size) {
        bytes = "\xFF\xD8 " + name;
        auto x = static_cast<uint32_t>(std::hash<std::string>{}(name));
        while (bytes.size() < size) {
            bytes.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
        }
    }
    return bytes.substr(0, size);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') {
            // Ends the quote, an escaped quote, starts a new quote.
            quoted += "\\''";
        }
    }
    return quoted + "'";
}

}  // namespace testsupport
