// Proof by sweep rather than by list. Each pass runs over a camera folder that holds every kind of entry; the
// fault sweep then fails every call it made through the platform seam in turn, with each error that call can
// give, and the crash sweep rebuilds every state a power cut could leave on the disk. After each, no picture
// may be lost, nothing of the user's overwritten, and the report must say what the file system shows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "platform/Sys.h"
#include "settings/SettingsFile.h"
#include "tests/support/TempDir.h"
#include "transfer/ArchivePass.h"
#include "transfer/ImportLog.h"
#include "transfer/MovePass.h"

using namespace testsupport;
namespace fs = std::filesystem;
using Bytes = std::string;

namespace {

// Beside errno values: a read or write that does part of its work; a write to an archive that the disk
// garbles without a word (only reading it back can tell); and another program appending to a picture right
// after it was read.
constexpr int kShort = -1, kGarble = -2, kAppend = -3;

const std::map<std::string, std::vector<int>> kErrors = {
    {"open", {EACCES, ENOSPC, EINTR}},
    {"close", {EIO}},
    {"read", {EIO, EINTR, kShort, kAppend}},
    {"write", {ENOSPC, EDQUOT, EIO, EINTR, kShort, kGarble}},
    {"pread", {EIO, kShort}},
    {"pwrite", {ENOSPC, EIO, kShort, kGarble}},
    {"lseek", {EINVAL}},
    {"fsync", {EIO, ENOSPC}},
    {"syncfs", {EIO}},
    {"ftruncate", {EIO}},
    {"fadvise", {EINVAL}},
    {"statx", {EACCES, EIO}},
    {"renameat2", {EPERM, EROFS, ENOSPC, EINVAL}},
    {"rename", {EIO, EDQUOT}},
    {"link", {EPERM, ENOSPC}},
    {"unlink", {EACCES, EROFS, EIO}},
    {"flock", {EWOULDBLOCK, ENOLCK}},
    {"linkat", {EPERM, ENOSPC, EDQUOT, EIO}},
    {"fcntl", {EAGAIN, EINVAL, ENOLCK}},
    {"fcntlLock", {EAGAIN, EACCES, ENOLCK, EINTR}},
    {"fstatfs", {EIO, ENOSYS}},
};

// A call to fail: the nth of its kind on one file (paths with the test's folders and random names cut out,
// so that it is the same call from run to run whatever thread makes it).
struct Point {
    std::string call;
    int error = 0;
};

// One change to names or to what the disk keeps, in the order the pass made it. Kinds: 'c' create a (inode),
// 'r' rename a to b, 'l' link b to the inode, 'u' unlink a, 'd' flush folder a, 'f' flush the inode's data.
struct Op {
    char kind;
    std::string a, b;
    uint64_t inode = 0;  // the inode number, and for a file made during the run which one it was
    Bytes data;
};

struct Sweep {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> roots;  // cut out of paths
    std::map<int, std::string> fdTags;
    std::map<std::string, int> seen;  // calls so far, by kind and file
    std::vector<std::string> calls;   // in count mode: every call, as "kind file#n"
    std::optional<Point> fail;
    bool fired = false, recording = false, unnamed = true;
    std::vector<Op> ops;
    std::map<ino_t, uint64_t> made;  // inode numbers given to files made during the run: they are reused
    std::map<ino_t, Bytes>* pictures = nullptr;  // the bytes each picture now has
} g;

std::string Tag(std::string path) {
    if (path.starts_with("/proc/self/fd/")) {
        return g.fdTags[std::stoi(path.substr(14))];
    }
    for (const auto& [root, label] : g.roots) {
        if (path.starts_with(root)) {
            path = label + path.substr(root.size());
        }
    }
    if (const size_t at = path.find("/.tovaro-"); at != std::string::npos) {
        path.replace(at, path.find('/', at + 1) - at, "/.tovaro-*");
    }
    return path;
}

std::string RealPath(int fd) {
    std::error_code e;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), e);
}

Bytes ContentOf(int fd) {
    const int copy = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY);
    Bytes bytes(1 << 16, '\0');
    size_t n = 0;
    for (ssize_t r; (r = ::pread(copy, bytes.data() + n, bytes.size() - n, n)) > 0;) {
        n += r, bytes.resize(std::max(bytes.size(), n * 2));
    }
    ::close(copy);
    return bytes.substr(0, n);
}

// Whether the run's fault was a failed flush of the file tagged `tag`: what it held may be gone.
bool FlushFailed(const std::string& tag) {
    return g.fired && g.fail->call.starts_with("fsync " + tag + "#");
}

// Records what a successful call changed, for the crash sweep: `paths` are its path arguments.
void Record(const std::string& call, int result, bool existed, const std::vector<std::string>& paths,
            int fd) {
    struct stat st {};
    if (call == "open" && result >= 0 && ::fstat(result, &st) == 0 && (!existed || st.st_nlink == 0)) {
        g.made[st.st_ino] = st.st_ino | (g.ops.size() + 1) << 40;
        if (st.st_nlink > 0) {
            g.ops.push_back({'c', paths[0], {}, g.made[st.st_ino], {}});
        }
    } else if (call == "unlink" && result == 0) {
        g.ops.push_back({'u', paths[0], {}, 0, {}});
    } else if (call == "linkat" && result == 0 && ::fstat(std::stoi(paths[0].substr(14)), &st) == 0) {
        g.ops.push_back({'l', {}, paths[1], g.made[st.st_ino], {}});  // an unnamed file gets its name
    } else if ((call == "rename" || call == "renameat2" || call == "link") && result == 0) {
        g.ops.push_back({call == "link" ? 'l' : 'r', paths[0], paths[1], 0, {}});
    } else if (call == "syncfs" && result == 0) {
        for (const auto& [open, tag] :
             g.fdTags) {  // the data of every file: this file system is all there is
            if (::fstat(open, &st) == 0 && S_ISREG(st.st_mode)) {
                g.ops.push_back(
                    {'f', {}, {}, g.made.count(st.st_ino) ? g.made[st.st_ino] : st.st_ino, ContentOf(open)});
            }
        }
    } else if (call == "fsync" && result == 0 && ::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            g.ops.push_back({'d', RealPath(fd), {}, 0, {}});
        } else {
            g.ops.push_back(
                {'f', {}, {}, g.made.count(st.st_ino) ? g.made[st.st_ino] : st.st_ino, ContentOf(fd)});
        }
    }
}

void AppendTo(int fd) {
    struct stat st {};
    if (g.pictures != nullptr && ::fstat(fd, &st) == 0 && g.pictures->count(st.st_ino)) {
        const int writer = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_APPEND);
        (*g.pictures)[st.st_ino] += "+more";
        EXPECT_EQ(::write(writer, "+more", 5), 5);
        ::close(writer);
    }
}

template <size_t I, typename T, typename... A>
constexpr bool ArgIs() {
    if constexpr (I < sizeof...(A)) {
        return std::is_same_v<std::tuple_element_t<I, std::tuple<A...>>, T>;
    }
    return false;
}

template <auto Field>
struct Hook;

template <typename R, typename... A, R (*platform::SysCalls::*Field)(A...)>
struct Hook<Field> {
    inline static const char* name = "";
    inline static R (*real)(A...) = nullptr;

    static R Call(A... a) {
        std::unique_lock lock(g.mutex);
        std::string tag;
        std::vector<std::string> paths;
        int fd = -1;
        (
            (void)[&] {
                if constexpr (std::is_same_v<A, const char*>) {
                    paths.push_back(a);
                } else if constexpr (std::is_same_v<A, int>) {
                    fd = fd < 0 ? a : fd;
                }
            }(),
            ...);
        const std::string path = paths.empty() ? "" : paths[0];
        tag = std::string(name) == "linkat" ? Tag(paths[1]) : !path.empty() ? Tag(path) : g.fdTags[fd];
        if constexpr (ArgIs<0, int, A...>() && ArgIs<1, int, A...>()) {
            tag += ":" + std::to_string(std::get<1>(std::make_tuple(a...)));  // an fcntl's command
        }
        if constexpr (ArgIs<3, off_t, A...>()) {
            tag += "@" + std::to_string(std::get<3>(std::make_tuple(a...)));
        }
        const std::string key =
            std::string(name) + " " + tag + "#" + std::to_string(++g.seen[name + (" " + tag)]);
        if (!g.fail) {
            g.calls.push_back(key);
        }
        int error = g.fail && !g.fired && g.fail->call == key ? g.fail->error : 0;
        if constexpr (ArgIs<1, int, A...>()) {
            const int flags = std::get<1>(std::make_tuple(a...));
            if (std::string(name) == "open" && (flags & O_TMPFILE) == O_TMPFILE && !g.unnamed) {
                error = EOPNOTSUPP;  // as vfat, exFAT or NFS answer: the named fallback is used
            }
        }
        g.fired = g.fired || error != 0;
        const bool existed = g.recording && !path.empty() && fs::exists(fs::symlink_status(path));
        lock.unlock();
        if (error > 0) {
            errno = error;
            return R(-1);
        }
        auto args = std::make_tuple(a...);
        Bytes garbled;
        if constexpr (ArgIs<2, size_t, A...>()) {
            size_t& count = std::get<2>(args);
            if (error == kShort) {
                count = std::max<size_t>(1, count / 2);
            } else if (error == kGarble && count > 0 && tag.ends_with(".zip")) {
                garbled.assign(static_cast<const char*>(std::get<1>(args)), count);
                garbled[garbled.size() / 2] ^= 0x20;
                std::get<1>(args) = garbled.data();
            }
        }
        // Without a power cut what a flush makes durable does not matter, and flushes of a real disk would
        // make the fault sweep slow; the crash sweep runs them.
        const bool flush = std::string(name) == "fsync" || std::string(name) == "syncfs";
        const R result = flush && !g.recording ? R(0) : std::apply(real, args);
        if constexpr (ArgIs<4, struct statx*, A...>()) {
            std::get<4>(args)->stx_btime = {1600000000, 0, 0};  // Linux can't set one, and archives hold it
        }
        lock.lock();
        if (std::string(name) == "open" && int(result) >= 0) {
            g.fdTags[int(result)] = tag;
        } else if (std::string(name) == "linkat" && int(result) == 0) {
            g.fdTags[std::stoi(path.substr(14))] = tag;  // the unnamed copy is known by its name from now on
        }
        if (error == kAppend && result >= 0) {
            AppendTo(fd);
        }
        if (g.recording) {
            Record(name, int(result), existed, paths, fd);
        }
        return result;
    }
};

template <auto Field>
void Install(platform::SysCalls& calls, const char* name) {
    Hook<Field>::name = name;
    Hook<Field>::real = platform::RealSysCalls().*Field;
    calls.*Field = Hook<Field>::Call;
}

// Every call of the seam, through the sweep.
platform::SysCalls Hooked() {
    platform::SysCalls c = platform::RealSysCalls();
#define TOVARO_HOOK(field) Install<&platform::SysCalls::field>(c, #field)
    TOVARO_HOOK(open);
    TOVARO_HOOK(close);
    TOVARO_HOOK(read);
    TOVARO_HOOK(write);
    TOVARO_HOOK(pread);
    TOVARO_HOOK(pwrite);
    TOVARO_HOOK(lseek);
    TOVARO_HOOK(fsync);
    TOVARO_HOOK(syncfs);
    TOVARO_HOOK(ftruncate);
    TOVARO_HOOK(fadvise);
    TOVARO_HOOK(statx);
    TOVARO_HOOK(renameat2);
    TOVARO_HOOK(rename);
    TOVARO_HOOK(link);
    TOVARO_HOOK(unlink);
    TOVARO_HOOK(flock);
    TOVARO_HOOK(linkat);
    TOVARO_HOOK(fcntl);
    TOVARO_HOOK(fcntlLock);
    TOVARO_HOOK(fstatfs);
#undef TOVARO_HOOK
    return c;
}

struct PassCase {
    const char* name;
    bool archive, across, unnamed, fast = false;
    // The calls swept, by the text a point's name holds: a variant of an earlier row sweeps only the calls
    // on the files where it differs (the destination's; the pictures too when they are compressed another
    // way); the calls on the settings file and the log go as in that row.
    std::vector<std::string> sweeps = {" "};
};

// The settings file with its counter set back to the number the test starts from.
Bytes CounterAsAtFirst(Bytes settings) {
    const size_t at = settings.find("counter=");
    if (at != Bytes::npos) {
        const size_t end = settings.find_first_not_of("0123456789", at + 8);
        settings.replace(at + 8, (end == Bytes::npos ? settings.size() : end) - at - 8, "41");
    }
    return settings;
}

Bytes Picture(const std::string& name, size_t size) {
    static std::map<std::string, Bytes> made;
    Bytes& bytes = made[name];
    if (!bytes.empty() || size == 0) {
        return bytes.substr(0, size);
    }
    bytes = "\xFF\xD8 " + name;
    uint32_t x = static_cast<uint32_t>(std::hash<std::string>{}(name));
    while (bytes.size() < size) {
        bytes.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
    }
    return bytes.substr(0, size);
}

// The members that Python's zipfile and `unzip -t` both read whole, by name without a leading "/"; asked once
// per distinct archive.
const std::map<std::string, Bytes>* Members(const Bytes& archive) {
    static std::map<size_t, std::optional<std::map<std::string, Bytes>>> cache;
    auto [at, added] = cache.try_emplace(std::hash<Bytes>{}(archive));
    if (added) {
        const TempDir dir("/dev/shm");
        WriteFile(dir / "a.zip", archive);
        if (const auto read = ReadArchive(dir / "a.zip", false)) {
            at->second.emplace();
            for (const auto& [name, bytes] : *read) {
                (*at->second)[name.substr(name.starts_with('/'))] = bytes;
            }
        }
    }
    return at->second ? &*at->second : nullptr;
}

// A camera folder with every kind of entry, a destination with files of the user's, and a settings file.
class World {
  public:
    explicit World(const PassCase& pass)
        : m_pass(pass), m_camBase(Base("/dev/shm")), m_dstBase(Base(pass.across ? "/tmp" : "/dev/shm")) {
        m_cam = m_camBase.path + "/cam";
        m_dst = m_dstBase.path + "/dst";
        m_ini = m_dstBase.path + "/tovaro.ini";
        m_log = m_dstBase.path + "/state/imports.log";
        for (const std::string& folder :
             {m_cam, m_dst, m_cam + "/100CANON", m_cam + "/IMG_0003 -44.jpg", m_dstBase.path + "/state"}) {
            MakeFolder(folder);
        }
        for (const auto& [name, size] : std::map<std::string, size_t>{{"100CANON/IMG_0100.JPG", 3000},
                                                                      {"IMG_0001.CR2", 5000},
                                                                      {"IMG_0001.JPG", 3000},
                                                                      {"IMG_0001.xmp", 500},
                                                                      {"IMG_0002.JPG", 1},
                                                                      {"IMG_0003.JPG", 3000},
                                                                      {"empty.jpg", 0},
                                                                      {"locked.jpg", 2000}}) {
            WriteFile(m_cam + "/" + name, Picture(name, size == 1 && !pass.archive ? 1100000
                                                        : size == 1                ? 150000
                                                                                   : size));
        }
        for (const auto& entry : fs::recursive_directory_iterator(m_cam)) {
            const timespec times[2] = {{1893456000, 0}, {1700000000, 0}};  // read, the access time stays
            ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
        }
        ::chmod((m_cam + "/locked.jpg").c_str(), 0444);
        EXPECT_EQ(::symlink("IMG_0003.JPG", (m_cam + "/link.jpg").c_str()), 0);
        EXPECT_EQ(::mkfifo((m_cam + "/pipe.jpg").c_str(), 0644), 0);
        WriteFile(m_cam + "/notes.txt", "not taken");
        WriteFile(m_dst + "/IMG_0003 -44.jpg", "the user's own");
        WriteFile(m_dst + "/ArchivePics.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
        WriteFile(m_ini, kSettings);
        WriteFile(m_log, kEarlierLog);
        for (const auto& entry : fs::recursive_directory_iterator(m_cam)) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            const std::string name = entry.path().lexically_relative(m_cam);
            m_inode[name] = st.st_ino;
            if (S_ISREG(st.st_mode) && name != "notes.txt") {
                m_pictures[st.st_ino] = ReadFile(entry.path());
            }
        }
        m_original = m_pictures;
        m_users = {ReadFile(m_dst + "/IMG_0003 -44.jpg"), ReadFile(m_dst + "/ArchivePics.zip")};
        g.roots = {{m_cam, "C"}, {m_dst, "D"}, {m_ini, "S"}, {m_log, "L"}, {m_dstBase.path, "B"}};
        g.pictures = &m_pictures;
        g.unnamed = pass.unnamed;
    }
    ~World() { g.pictures = nullptr; }

    // The pass, with Number (so the counter is kept after every file), walking subfolders, RAW pictures and
    // sidecars taken, one compressor worker; in fast mode the big picture is cut into blocks.
    transfer::TransferReport Run() {
        g.seen.clear();
        g.fdTags.clear();
        g.fired = false;
        transfer::PlainNamingInputs inputs;
        inputs.numberChecked = true;
        inputs.numberText = "41";
        transfer::PassOptions options;
        options.recursive = true;
        options.workers = 1;
        options.compression = m_pass.fast ? transfer::Compression::Fast : transfer::Compression::Standard;
        options.moveExtensions = options.archiveExtensions = {".jpg", ".cr2", ".xmp"};
        const SettingsFile settings(m_ini);
        const platform::ScopedSysCalls hooked(Hooked());
        std::string problem;
        auto log = transfer::ImportLog::Open(fs::path(m_log).parent_path(), &problem);
        if (!log) {
            transfer::TransferReport report;  // as tovaro-cli does: without its log no transfer starts
            report.problem = problem;
            return report;
        }
        options.log = &*log;
        return (m_pass.archive ? transfer::ArchivePass : transfer::MovePass)(
            m_cam, m_dst, transfer::kNameNumber, inputs, settings, options);
    }

    // The invariants after a run; `leftover`: a temporary file may stay (its removal was what failed).
    void Check(const transfer::TransferReport& report, bool leftover) {
        std::map<std::string, Bytes> files;
        std::map<std::string, fs::file_type> kinds;
        std::set<Bytes> found;
        std::map<std::string, Bytes> members;
        for (const std::string& root : {m_cam, m_dst, fs::path(m_ini).parent_path().string()}) {
            for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
                 ++it) {
                const std::string path = it->path();
                kinds[path] = it->symlink_status().type();
                if (root != m_cam && it->is_directory()) {
                    it.disable_recursion_pending();
                }
                if (path.find("/.tovaro-") != std::string::npos || path.ends_with(".part")) {
                    EXPECT_TRUE(leftover) << "a temporary file is left: " << Tag(path);
                } else if (kinds[path] == fs::file_type::regular) {
                    found.insert(files[path] = ReadFile(path));
                }
            }
        }
        for (const auto& [path, bytes] : files) {
            const auto* archive = path.ends_with(".zip") ? Members(bytes) : nullptr;
            for (const auto& [member, data] : archive ? *archive : std::map<std::string, Bytes>{}) {
                found.insert(members[member] = data);
            }
            EXPECT_TRUE(!path.starts_with(m_dst) || archive || AnyOf(bytes))
                << "under a final name but not whole: " << Tag(path);
        }
        for (const auto& [inode, bytes] : m_pictures) {
            EXPECT_TRUE(found.count(bytes)) << "a picture is lost: " << bytes.substr(0, 24);
        }
        for (const Bytes& bytes : m_users) {
            EXPECT_TRUE(found.count(bytes)) << "the user's file is gone: " << bytes.substr(0, 24);
        }
        const Bytes settings = ReadFile(m_ini);
        EXPECT_EQ(CounterAsAtFirst(settings), kSettings) << settings;
        std::set<std::string> expected = {m_cam,
                                          m_dst,
                                          m_ini,
                                          m_dstBase.path + "/.tovaro.ini.lock",
                                          fs::path(m_log).parent_path(),
                                          m_log,
                                          m_dst + "/ArchivePics.zip",
                                          m_dst + "/IMG_0003 -44.jpg"};
        const auto log = LogOf(ReadFile(m_log));
        for (const auto& [name, inode] : m_inode) {
            expected.insert(m_cam + "/" + name);
        }
        size_t placed = 0, logged = 0;
        for (const transfer::TransferItem& item : report.items) {
            SCOPED_TRACE(item.oldName + " -> " + item.newName + ": " + item.reason);
            const std::string old = m_cam + "/" + item.oldName;
            const std::string renamed = fs::path(old).parent_path() / item.newName;
            const std::string copy = m_pass.archive ? renamed.substr(1) : m_dst + "/" + item.newName;
            const ino_t inode = m_inode[item.oldName];
            const auto holds = [&](const std::string& path) {
                return m_pictures.count(inode) ? files.count(path) && files[path] == m_pictures[inode]
                                               : kinds.count(path) && kinds[path] == Kind(item.oldName);
            };
            const bool inCamera = holds(old) || holds(renamed);
            const bool copied =
                m_pass.archive ? members.count(copy) && members[copy] == m_pictures[inode] : holds(copy);
            expected.insert(renamed), expected.insert(m_dst + "/" + item.newName);
            const bool gone = item.outcome == transfer::Outcome::Done;
            EXPECT_EQ(inCamera, !gone);
            EXPECT_TRUE(copied == (item.outcome != transfer::Outcome::Kept) || (m_pass.archive && inCamera));
            EXPECT_EQ(item.reason.empty() || item.reason.starts_with("not yet"), gone);
            // What undo needs: a file that left is in the log, and the log never says a file left that
            // stayed.
            EXPECT_TRUE(!gone || log.count("plan " + old) || !report.logError.empty());
            EXPECT_LE(log.count("done " + old), gone ? 1u : 0u);
            EXPECT_TRUE(!gone || log.count("done " + old) || !report.logError.empty());
            placed += item.Done();
            logged += log.count("plan " + old) && log.count("done " + old);
        }
        // Exit status 0 exactly when every taken file is in its place, every entry was examined (an entry
        // that can't be is only ever the fault's doing), the counter kept and the log written.
        EXPECT_TRUE(report.unread.empty() || g.fired);
        EXPECT_EQ(report.AllDone() && report.counterError.empty() && report.logError.empty(),
                  placed == 10 && report.unread.empty() && settings.find("counter=49") != std::string::npos &&
                      logged == 10 && log.count("end") && !FlushFailed("L"))
            << report.problem << report.counterError << report.logError << report.items.size();
        for (const auto& [path, kind] : kinds) {
            EXPECT_TRUE(expected.count(path) || path.find("/ArchivePics-") != std::string::npos ||
                        path.find("/.tovaro-") != std::string::npos)
                << "unexpected: " << Tag(path);
        }
    }

    // "Nothing lost" in a state a power cut could leave: names (path -> inode) and what each inode holds.
    // `unlinked`: the camera folder's files removed in that state.
    void CheckCrashState(const std::map<std::string, uint64_t>& names, const std::map<uint64_t, Bytes>& data,
                         const std::vector<std::string>& unlinked) {
        std::set<Bytes> found;
        for (const auto& [path, inode] : names) {
            if (path.find("/.tovaro-") == std::string::npos && data.count(inode)) {
                const Bytes& bytes = *found.insert(data.at(inode)).first;
                const auto* archive = path.ends_with(".zip") ? Members(bytes) : nullptr;
                for (const auto& [member, contents] : archive ? *archive : std::map<std::string, Bytes>{}) {
                    found.insert(contents);
                }
            }
        }
        for (const auto& [inode, bytes] : m_original) {
            EXPECT_TRUE(found.count(bytes)) << "a picture is lost: " << bytes.substr(0, 24);
        }
        for (const Bytes& bytes : m_users) {
            EXPECT_TRUE(found.count(bytes)) << "the user's file is gone: " << bytes.substr(0, 24);
        }
        const auto log = names.count(m_log) ? LogOf(data.at(names.at(m_log))) : std::multiset<std::string>{};
        for (const std::string& gone : unlinked) {
            EXPECT_TRUE(log.count("plan " + gone)) << "gone without a word in the log: " << Tag(gone);
        }
        const auto ini = names.find(m_ini);
        EXPECT_TRUE(ini != names.end() && CounterAsAtFirst(data.at(ini->second)) == kSettings);
    }
    const std::string& Camera() const { return m_cam; }
    const std::string& Destination() const { return m_dst; }

  private:
    static constexpr const char* kSettings = "[settings]\nnote=kept\ncounter=41\n";
    static constexpr const char* kEarlierLog =
        "t0\t2026-01-01T00:00:00Z\tstart\tmove\t/card\t/pictures\t\t\t0\t0.000000000\n";

    // The log's records as "event old-path" (both old and new path for a plan): it must begin with the
    // earlier transfer's record as it was, and hold no line that is not a whole record.
    std::multiset<std::string> LogOf(const Bytes& text) const {
        EXPECT_TRUE(text.starts_with(kEarlierLog)) << text;
        std::multiset<std::string> records;
        for (size_t start = 0, end; (end = text.find('\n', start)) != Bytes::npos; start = end + 1) {
            const auto record = transfer::ParseLogRecord(std::string_view(text).substr(start, end - start));
            EXPECT_TRUE(record) << "a broken record in the log: " << text.substr(start, end - start);
            if (record && record->transfer != "t0") {
                records.insert(record->event + (record->oldPath.empty() ? "" : " " + record->oldPath));
                if (record->event == "plan") {
                    records.insert("plan " + record->newPath);
                }
            }
        }
        return records;
    }

    bool AnyOf(const Bytes& bytes) const {
        for (const auto& [inode, picture] : m_pictures) {
            if (picture == bytes || m_original.at(inode) == bytes) {
                return true;
            }
        }
        return std::find(m_users.begin(), m_users.end(), bytes) != m_users.end();
    }
    fs::file_type Kind(const std::string& name) const {
        return fs::symlink_status(m_cam + "/" + name).type() != fs::file_type::not_found
                   ? fs::symlink_status(m_cam + "/" + name).type()
                   : (name == "link.jpg" ? fs::file_type::symlink : fs::file_type::fifo);
    }

    const PassCase m_pass;
    // Folders of one name for the whole test, so that the archives of runs that end alike are alike.
    struct Base {
        explicit Base(const std::string& parent)
            : path(parent + "/tovaro-sweep-" + std::to_string(::getpid())) {
            fs::remove_all(path);
            fs::create_directory(path);
        }
        ~Base() { fs::remove_all(path); }
        std::string path;
    } m_camBase, m_dstBase;
    std::string m_cam, m_dst, m_ini, m_log;
    std::map<std::string, ino_t> m_inode;  // the camera folder's entries as they were
    std::map<ino_t, Bytes> m_pictures, m_original;
    std::vector<Bytes> m_users;
};

// Keeps, of the calls a run made, the first two and the last of each kind on each file: a hundred writes of
// one copy fail alike.
std::vector<std::string> Sample(const std::vector<std::string>& calls) {
    std::map<std::string, int> last;
    for (const std::string& key : calls) {
        const size_t hash = key.rfind('#');
        last[key.substr(0, hash)] = std::max(last[key.substr(0, hash)], std::stoi(key.substr(hash + 1)));
    }
    std::vector<std::string> kept;
    for (const std::string& key : calls) {
        const size_t hash = key.rfind('#');
        const int nth = std::stoi(key.substr(hash + 1));
        if (nth <= 2 || nth == last[key.substr(0, hash)]) {
            kept.push_back(key);
        }
    }
    return kept;
}

class SweepTest : public testing::TestWithParam<PassCase> {};

TEST_P(SweepTest, EveryFailingCall) {
    g.fail.reset();
    g.calls.clear();
    {
        World world(GetParam());
        world.Check(world.Run(), false);
    }
    // Each kind of destination takes its own way: an unnamed copy named by linkat, or the named fallback.
    if (GetParam().across && !GetParam().archive) {
        const std::string way = GetParam().unnamed ? "linkat D/" : "renameat2 D/.tovaro-*";
        EXPECT_TRUE(std::any_of(g.calls.begin(), g.calls.end(), [&](auto& c) { return c.starts_with(way); }));
    }
    ASSERT_FALSE(HasFailure());
    size_t points = 0;
    for (const std::string& key : Sample(g.calls)) {
        const std::string call = key.substr(0, key.find(' '));
        const char* only =
            std::getenv("TOVARO_SWEEP_ONLY");  // to run again the points of one call on one file
        const auto swept = only != nullptr ? std::vector<std::string>{only} : GetParam().sweeps;
        if (std::none_of(swept.begin(), swept.end(),
                         [&](auto& text) { return key.find(text) != key.npos; })) {
            continue;
        }
        for (const int error : kErrors.at(call)) {
            if ((error == kGarble && key.find(".zip") == std::string::npos) ||
                (error == kAppend && key.find(" C/") == std::string::npos)) {
                continue;  // no different from a run without a fault
            }
            SCOPED_TRACE(key + " fails with " + (error > 0 ? strerrorname_np(error) : std::to_string(error)));
            World world(GetParam());
            g.fail = Point{key, error};
            world.Check(world.Run(), call == "unlink");
            ++points;
            ASSERT_FALSE(HasFailure());
        }
    }
    g.fail.reset();
    std::printf("%s: %zu fault points checked\n", GetParam().name, points);
}

// A state that a power cut could leave: what the disk holds after the first `end` operations, without those
// in `dropped`.
struct CrashState {
    std::map<std::string, uint64_t> names;
    std::map<uint64_t, Bytes> data;
};

TEST_P(SweepTest, EveryCrashState) {
    World world(GetParam());
    CrashState start;
    for (const std::string& root : {world.Camera(), world.Destination()}) {
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(root).parent_path())) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            start.names[entry.path()] = st.st_ino;
            if (S_ISREG(st.st_mode)) {
                start.data[st.st_ino] = ReadFile(entry.path());
            }
        }
    }
    g.ops.clear();
    g.made.clear();
    g.recording = true;
    world.Run();
    g.recording = false;
    const std::vector<Op> ops = g.ops;
    // Each change of names is durable once a folder it touches is flushed.
    std::vector<size_t> flushedAt(ops.size(), ops.size() + 1);
    for (size_t i = 0; i < ops.size(); ++i) {
        const std::set<std::string> folders = {ops[i].kind == 'l' ? "" : fs::path(ops[i].a).parent_path(),
                                               fs::path(ops[i].b).parent_path()};
        for (size_t j = i + 1; j < ops.size() && ops[i].kind != 'd' && ops[i].kind != 'f'; ++j) {
            if (ops[j].kind == 'd' && folders.count(ops[j].a)) {
                flushedAt[i] = j;
                break;
            }
        }
    }
    std::set<size_t> ends = {ops.size()};
    for (size_t i = 0; i < ops.size(); ++i) {
        ends.insert(ops[i].kind == 'd' || ops[i].kind == 'f' ? i : i + 1);
    }
    size_t states = 0;
    for (const size_t end : ends) {
        std::vector<size_t> open;  // changes of names not yet durable at `end`
        for (size_t i = 0; i < end; ++i) {
            if (ops[i].kind != 'd' && ops[i].kind != 'f' && flushedAt[i] >= end) {
                open.push_back(i);
            }
        }
        std::vector<std::set<size_t>> variants = {{}};
        for (const size_t i : open) {
            std::set<size_t> dropped = {i};  // and what came after it on the same names
            for (const size_t j : open) {
                for (const size_t d : std::set<size_t>(dropped)) {
                    if (j > d && ((!ops[j].a.empty() && (ops[j].a == ops[d].a || ops[j].a == ops[d].b)) ||
                                  (!ops[j].b.empty() && (ops[j].b == ops[d].a || ops[j].b == ops[d].b)))) {
                        dropped.insert(j);
                    }
                }
            }
            variants.push_back(dropped);
        }
        variants.push_back(std::set<size_t>(open.begin(), open.end()));
        for (const auto& dropped : variants) {
            CrashState state = start;
            std::vector<std::string> unlinked;
            for (size_t i = 0; i < end; ++i) {
                const Op& op = ops[i];
                if (dropped.count(i)) {
                    continue;
                }
                if (op.kind == 'c') {
                    state.names[op.a] = op.inode, state.data[op.inode];
                } else if (op.kind == 'r' && state.names.count(op.a)) {
                    state.names[op.b] = state.names[op.a], state.names.erase(op.a);
                } else if (op.kind == 'l') {
                    if (op.a.empty() || state.names.count(op.a)) {
                        state.names[op.b] = op.a.empty() ? op.inode : state.names[op.a];
                    }
                } else if (op.kind == 'u') {
                    state.names.erase(op.a);
                    if (op.a.starts_with(world.Camera())) {
                        unlinked.push_back(op.a);
                    }
                } else if (op.kind == 'f') {
                    state.data[op.inode] = op.data;
                }
            }
            SCOPED_TRACE("after " + std::to_string(end) + " of " + std::to_string(ops.size()) + " changes, " +
                         std::to_string(dropped.size()) + " dropped");
            world.CheckCrashState(state.names, state.data, unlinked);
            ++states;
            ASSERT_FALSE(HasFailure());
        }
    }
    std::printf("%s: %zu crash states checked\n", GetParam().name, states);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, SweepTest,
    testing::Values(PassCase{"MoveWithinOneFileSystem", false, false, true},
                    PassCase{"MoveAcrossFileSystems", false, true, true},
                    PassCase{"MoveAcrossNamedTemporaries", false, true, false, false, {" D/"}},
                    PassCase{"Archive", true, false, true},
                    PassCase{"ArchiveFastToAnotherFileSystem", true, true, true, true, {" D/", "read C/"}}),
    [](const auto& pass) { return std::string(pass.param.name); });

}  // namespace
