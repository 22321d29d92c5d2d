// Proof by sweep rather than by list. Each pass runs over a camera folder that holds every kind of entry; the
// fault sweep then fails every call it made through the platform seam in turn, with each error that call can
// give, and the crash sweep rebuilds every state a power cut could leave on the disk. After each, no picture
// may be lost, nothing of the user's overwritten, and the report must say what the file system shows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>
#include <filesystem>
#include <fstream>
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
using Files = std::map<std::string, Bytes>;
using Names = std::map<std::string, uint64_t>;

namespace {

// Beside errno values: a read or write that does part of its work; a write to an archive that the disk
// garbles without a word (only reading it back can tell); and another program appending to a picture right
// after it was read.
constexpr int kShort = -1, kGarble = -2, kAppend = -3;

// Megabytes read a thousand times come from the heap, not each from a new mapping to fault in.
const int g_heap = mallopt(M_MMAP_THRESHOLD, 16 << 20) + mallopt(M_TRIM_THRESHOLD, 64 << 20);

// One change to names or to what the disk keeps, in the order the pass made it. Kinds: 'c' create a (inode),
// 'r' rename a to b, 'l' link b to the inode, 'u' unlink a, 'd' flush folder a, 'f' flush the inode's data.
struct Op {
    char kind;
    std::string a, b = {};
    uint64_t inode = 0;  // the inode number, and for a file made during the run which one it was
    Bytes data = {};
};

struct Sweep {
    std::mutex mutex;
    std::map<std::string, std::vector<int>> errors;          // by call: each error it can give
    std::vector<std::pair<std::string, std::string>> roots;  // cut out of paths
    std::map<int, std::string> fdTags;
    std::map<std::string, int> seen;  // calls so far, by kind and file
    std::vector<std::string> calls;   // every call of a run without a fault, as "kind file#n"
    // The call to fail: the nth of its kind on one file (paths with the test's folders and random names cut
    // out, so that it is the same call from run to run whatever thread makes it), and how.
    std::optional<std::pair<std::string, int>> fail;
    bool fired = false, recording = false, unnamed = true;
    std::vector<Op> ops;
    std::map<ino_t, uint64_t> made;  // inode numbers given to files made during the run: they are reused
    Files* pictures = nullptr;       // the bytes each picture now has, by name in the camera folder
} g;

std::string Fd(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

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

// Whether the run's fault was a failed flush of the file tagged `tag`: what it held may be gone.
bool FlushFailed(const std::string& tag) {
    return g.fired && g.fail->first.starts_with("fsync " + tag + "#");
}

// Records what a successful call changed, for the crash sweep: `paths` are its path arguments.
void Record(const std::string& call, int result, bool existed, const std::vector<std::string>& paths,
            int fd) {
    struct stat st {};
    const auto flushed = [&](int of) {
        g.ops.push_back(
            {'f', {}, {}, g.made.count(st.st_ino) ? g.made[st.st_ino] : st.st_ino, ReadFile(Fd(of))});
    };
    if (result < 0) {
        return;
    }
    if (call == "open" && ::fstat(result, &st) == 0 && (!existed || st.st_nlink == 0)) {
        g.made[st.st_ino] = st.st_ino | (g.ops.size() + 1) << 40;
        if (st.st_nlink > 0) {
            g.ops.push_back({'c', paths[0], {}, g.made[st.st_ino]});
        }
    } else if (call == "unlink") {
        g.ops.push_back({'u', paths[0]});
    } else if (call == "linkat" && ::fstat(std::stoi(paths[0].substr(14)), &st) == 0) {
        g.ops.push_back({'l', {}, paths[1], g.made[st.st_ino]});  // an unnamed file gets its name
    } else if (call == "rename" || call == "renameat2" || call == "link") {
        g.ops.push_back({call == "link" ? 'l' : 'r', paths[0], paths[1]});
    } else if (call == "syncfs") {
        for (const auto& [open, tag] :
             g.fdTags) {  // the data of every file: this file system is all there is
            if (::fstat(open, &st) == 0 && S_ISREG(st.st_mode)) {
                flushed(open);
            }
        }
    } else if (call == "fsync" && ::fstat(fd, &st) == 0) {
        S_ISDIR(st.st_mode) ? g.ops.push_back({'d', fs::read_symlink(Fd(fd))}) : flushed(fd);
    }
}

void AppendTo(int fd) {
    const std::string name = g.fdTags[fd].substr(2);  // C/...
    if (g.pictures != nullptr && g.pictures->count(name)) {
        (*g.pictures)[name] += "+more";
        std::ofstream(Fd(fd), std::ios::app) << "+more";
    }
}

template <auto Field>
struct Hook;

template <typename R, typename... A, R (*platform::SysCalls::*Field)(A...)>
struct Hook<Field> {
    inline static std::string name;
    inline static R (*real)(A...) = nullptr;

    // Whether argument I is of type T.
    template <size_t I, typename T>
    static constexpr bool Is() {
        if constexpr (I < sizeof...(A)) {
            return std::is_same_v<std::tuple_element_t<I, std::tuple<A...>>, T>;
        }
        return false;
    }

    static R Call(A... a) {
        std::unique_lock lock(g.mutex);
        auto args = std::make_tuple(a...);
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
        std::string tag = name == "linkat" ? Tag(paths[1]) : !path.empty() ? Tag(path) : g.fdTags[fd];
        if constexpr (Is<0, int>() && Is<1, int>()) {
            tag += ":" + std::to_string(std::get<1>(args));  // an fcntl's command
        }
        if constexpr (Is<3, off_t>()) {
            tag += "@" + std::to_string(std::get<3>(args));
        }
        const std::string key = name + " " + tag + "#" + std::to_string(++g.seen[name + " " + tag]);
        if (!g.fail) {
            g.calls.push_back(key);
        }
        const bool hit = g.fail && !g.fired && g.fail->first == key;
        g.fired = g.fired || hit;
        int error = hit ? g.fail->second : 0;
        if constexpr (Is<1, int>()) {
            if (name == "open" && (std::get<1>(args) & O_TMPFILE) == O_TMPFILE && !g.unnamed) {
                error = EOPNOTSUPP;  // as vfat, exFAT or NFS answer: the named fallback is used
            }
        }
        const bool existed = g.recording && !path.empty() && Exists(path);
        lock.unlock();
        if (error > 0) {
            errno = error;
            return R(-1);
        }
        Bytes garbled;
        if constexpr (Is<2, size_t>()) {
            size_t& count = std::get<2>(args);
            if (error == kShort) {
                count = std::max<size_t>(1, count / 2);
            } else if (error == kGarble && count > 0 && tag.ends_with(".zip")) {
                garbled.assign(static_cast<const char*>(std::get<1>(args)), count);
                garbled[count / 2] ^= 0x20;
                std::get<1>(args) = garbled.data();
            }
        }
        // Without a power cut what a flush makes durable does not matter, and flushes of a real disk would
        // make the fault sweep slow; the crash sweep runs them.
        const R result =
            name.find("sync") != std::string::npos && !g.recording ? R(0) : std::apply(real, args);
        if constexpr (Is<1, struct statfs*>()) {
            if (!g.unnamed && tag.starts_with("C/")) {
                std::get<1>(args)->f_type =
                    0x65735546;  // FUSE: no lease sees every writer, a heuristic instead
            }
        }
        if constexpr (Is<4, struct statx*>()) {
            std::get<4>(args)->stx_btime = {1600000000, 0, 0};  // Linux can't set one, and archives hold it
        }
        lock.lock();
        if (name == "open" && int(result) >= 0) {
            g.fdTags[int(result)] = tag;
        } else if (name == "linkat" && int(result) == 0) {
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
void Install(platform::SysCalls& calls, const char* name, std::vector<int> errors) {
    Hook<Field>::name = name;
    Hook<Field>::real = platform::RealSysCalls().*Field;
    calls.*Field = Hook<Field>::Call;
    g.errors.try_emplace(name, std::move(errors));
}

// Every call of the seam, through the sweep, with each error it can really give.
platform::SysCalls Hooked() {
    platform::SysCalls c = platform::RealSysCalls();
#define HOOK(field, ...) Install<&platform::SysCalls::field>(c, #field, {__VA_ARGS__})
    HOOK(open, EACCES, ENOSPC, EINTR);
    HOOK(close, EIO);
    HOOK(read, EIO, EINTR, kShort, kAppend);
    HOOK(write, ENOSPC, EDQUOT, EIO, EINTR, kShort, kGarble);
    HOOK(pread, EIO, kShort);
    HOOK(pwrite, ENOSPC, EIO, kShort, kGarble);
    HOOK(lseek, EINVAL);
    HOOK(fsync, EIO, ENOSPC);
    HOOK(syncfs, EIO);
    HOOK(ftruncate, EIO);
    HOOK(fadvise, EINVAL);
    HOOK(statx, EACCES, EIO);
    HOOK(renameat2, EPERM, EROFS, ENOSPC, EINVAL);
    HOOK(rename, EIO, EDQUOT);
    HOOK(link, EPERM, ENOSPC);
    HOOK(unlink, EACCES, EROFS, EIO);
    HOOK(flock, EWOULDBLOCK, ENOLCK);
    HOOK(linkat, EPERM, ENOSPC, EDQUOT, EIO);
    HOOK(fcntl, EAGAIN, EINVAL, ENOLCK);
    HOOK(fcntlLock, EAGAIN, EACCES, ENOLCK, EINTR);
    HOOK(fstatfs, EIO, ENOSYS);
#undef HOOK
    return c;
}

struct PassCase {
    const char* name;
    // unnamed: the destination makes unnamed files and the camera's file system keeps leases; else they are
    // as on a foreign one (vfat, FUSE): the named fallback and the heuristic are used.
    bool archive, across, unnamed, fast = false;
    // The calls swept, by the text a point's name holds: a variant of an earlier row sweeps only the calls
    // on the files where it differs (the destination's; the pictures too when they are compressed another
    // way); the calls on the settings file and the log go as in that row.
    std::vector<std::string> sweeps = {" "};
};

// The members that Python's zipfile and `unzip -t` both read whole, by name without a leading "/"; asked once
// per distinct archive.
const Files* Members(const Bytes& archive) {
    static std::map<size_t, std::optional<Files>> cache;
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
        for (const std::string& folder :
             {m_cam, m_dst, m_cam + "/100CANON", m_cam + "/IMG_0003 -44.jpg", m_dstBase.path + "/state"}) {
            MakeFolder(folder);
        }
        const size_t big = pass.archive ? 150000 : 1100000;  // streamed, and above the held limit
        for (const auto& [name, size] : std::map<std::string, size_t>{{"100CANON/IMG_0100.JPG", 3000},
                                                                      {"IMG_0001.CR2", 5000},
                                                                      {"IMG_0001.JPG", 3000},
                                                                      {"IMG_0001.xmp", 500},
                                                                      {"IMG_0002.JPG", big},
                                                                      {"IMG_0003.JPG", 3000},
                                                                      {"empty.jpg", 0},
                                                                      {"locked.jpg", 2000}}) {
            WriteFile(m_cam + "/" + name, m_pictures[name] = Noise(name, size));
        }
        for (const auto& entry : fs::recursive_directory_iterator(m_cam)) {
            const timespec times[2] = {{1893456000, 0}, {1700000000, 0}};  // read, the access time stays
            ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
        }
        ::chmod((m_cam + "/locked.jpg").c_str(), 0444);
        EXPECT_EQ(::symlink("IMG_0003.JPG", (m_cam + "/link.jpg").c_str()), 0);
        EXPECT_EQ(::mkfifo((m_cam + "/pipe.jpg").c_str(), 0644), 0);
        WriteFile(m_cam + "/notes.txt", "not taken");
        WriteFile(m_dst + "/IMG_0003 -44.jpg", m_users[0]);
        WriteFile(m_dst + "/ArchivePics.zip", m_users[1]);
        WriteFile(m_ini, kSettings);
        WriteFile(m_log, kEarlierLog);
        for (const auto& [path, st] : Entries()) {  // the state before the run; for the crash sweep, the data
            m_start.first[path] = st.st_ino;
            if (g.recording && S_ISREG(st.st_mode)) {
                m_start.second[st.st_ino] = ReadFile(path);
            }
        }
        m_original = m_pictures;
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
        auto log = transfer::ImportLog::Open(fs::path(m_log).parent_path());
        if (!log) {
            transfer::TransferReport report;  // as tovaro-cli does: without its log no transfer starts
            report.problem = transfer::LogProblem(log.Error());
            return report;
        }
        options.log = &*log;
        return (m_pass.archive ? transfer::ArchivePass : transfer::MovePass)(
            m_cam, m_dst, transfer::kNameNumber, inputs, settings, options);
    }

    // The invariants after a run; `leftover`: a temporary file may stay (its removal was what failed).
    void Check(const transfer::TransferReport& report, bool leftover) {
        Files files;
        const auto entries = Entries();
        for (const auto& [path, st] : entries) {
            if (path.find("/.tovaro-") != std::string::npos || path.ends_with(".part")) {
                EXPECT_TRUE(leftover) << "a temporary file is left: " << Tag(path);
            } else if (S_ISREG(st.st_mode)) {
                files[path] = ReadFile(path);
            }
        }
        const Files members = ExpectKept(files);
        std::set<Bytes> whole(m_users.begin(), m_users.end());
        for (const auto& [name, bytes] : m_pictures) {
            whole.insert({bytes, m_original.at(name)});
        }
        for (const auto& [path, bytes] : files) {
            EXPECT_TRUE(!path.starts_with(m_dst) || (path.ends_with(".zip") && Members(bytes)) ||
                        whole.count(bytes))
                << "under a final name but not whole: " << Tag(path);
        }
        const Bytes settings = files[m_ini];
        EXPECT_EQ(CounterAsAtFirst(settings), kSettings) << settings;
        const auto log = LogOf(files[m_log]);
        std::set<std::string> expected = {m_dstBase.path + "/.tovaro.ini.lock"};
        for (const auto& [path, inode] : m_start.first) {
            expected.insert(path);
        }
        size_t placed = 0, logged = 0;
        for (const transfer::TransferItem& item : report.items) {
            SCOPED_TRACE(item.oldName + " -> " + item.newName + ": " + item.reason);
            const std::string old = m_cam + "/" + item.oldName;
            const std::string renamed = fs::path(old).parent_path() / item.newName;
            const std::string copy = m_pass.archive ? renamed.substr(1) : m_dst + "/" + item.newName;
            const bool picture = m_pictures.count(item.oldName);
            const auto holds = [&](const std::string& path) {
                return picture ? files.count(path) && files[path] == m_pictures[item.oldName]
                               : entries.count(path) && (entries.at(path).st_mode & S_IFMT) ==
                                                            (item.oldName == "link.jpg" ? S_IFLNK : S_IFIFO);
            };
            const bool inCamera = holds(old) || holds(renamed);
            const bool copied = m_pass.archive
                                    ? members.count(copy) && members.at(copy) == m_pictures[item.oldName]
                                    : holds(copy);
            expected.insert({renamed, m_dst + "/" + item.newName});
            const bool gone = item.outcome == transfer::Outcome::Done;
            EXPECT_EQ(inCamera, !gone);
            EXPECT_TRUE(copied == (item.outcome != transfer::Outcome::Kept) || (m_pass.archive && inCamera));
            EXPECT_EQ(item.reason.empty() || item.reason.starts_with("not yet"), gone);
            // What undo needs: a file that left is in the log, and the log never says a file left that
            // stayed.
            EXPECT_TRUE(!gone || (log.count("plan " + old) && log.count("done " + old)) ||
                        !report.logError.empty());
            EXPECT_LE(log.count("done " + old), gone ? 1u : 0u);
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
        for (const auto& [path, st] : entries) {
            EXPECT_TRUE(expected.count(path) || path.find("/ArchivePics-") != std::string::npos ||
                        path.find("/.tovaro-") != std::string::npos)
                << "unexpected: " << Tag(path);
        }
    }

    // "Nothing lost" in a state a power cut could leave: names (path -> inode) and what each inode holds.
    // `unlinked`: the camera folder's files removed in that state.
    void CheckCrashState(const Names& names, const std::map<uint64_t, Bytes>& data,
                         const std::vector<std::string>& unlinked) {
        Files files;
        for (const auto& [path, inode] : names) {
            if (path.find("/.tovaro-") == std::string::npos && data.count(inode)) {
                files[path] = data.at(inode);
            }
        }
        ExpectKept(files);
        const auto log = LogOf(files[m_log]);
        for (const std::string& gone : unlinked) {
            EXPECT_TRUE(log.count("plan " + gone)) << "gone without a word in the log: " << Tag(gone);
        }
        EXPECT_EQ(CounterAsAtFirst(files[m_ini]), kSettings);
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
    const std::string m_cam = m_camBase.path + "/cam", m_dst = m_dstBase.path + "/dst";
    const std::string m_ini = m_dstBase.path + "/tovaro.ini", m_log = m_dstBase.path + "/state/imports.log";
    std::pair<Names, std::map<uint64_t, Bytes>> m_start;  // names and data before the run

  private:
    static constexpr const char* kSettings = "[settings]\nnote=kept\ncounter=41\n";
    static constexpr const char* kEarlierLog =
        "t0\t2026-01-01T00:00:00Z\tstart\tmove\t/card\t/pictures\t\t\t0\t0.000000000\n";

    // What lstat says of every entry below the test's folders.
    std::map<std::string, struct stat> Entries() const {
        std::map<std::string, struct stat> entries;
        for (const std::string& base : std::set<std::string>{m_camBase.path, m_dstBase.path}) {
            for (const auto& entry : fs::recursive_directory_iterator(base)) {
                ::lstat(entry.path().c_str(), &entries[entry.path()]);
            }
        }
        return entries;
    }

    // The settings file with its counter set back to the number the test starts from.
    static Bytes CounterAsAtFirst(Bytes settings) {
        const size_t at = settings.find("counter=") + 8;  // npos + 8 wraps below 8
        return at < 8 ? settings
                      : settings.replace(at, settings.find_first_not_of("0123456789", at) - at, "41");
    }

    // Every picture and every file of the user's is in `files` or whole in an archive among them; gives the
    // archives' members.
    Files ExpectKept(const Files& files) const {
        std::set<Bytes> found;
        Files members;
        for (const auto& [path, bytes] : files) {
            found.insert(bytes);
            if (const Files* archive = path.ends_with(".zip") ? Members(bytes) : nullptr) {
                for (const auto& [member, contents] : *archive) {
                    found.insert(members[member] = contents);
                }
            }
        }
        for (const auto& [name, bytes] : m_pictures) {
            EXPECT_TRUE(found.count(bytes)) << "a picture is lost: " << name;
        }
        for (const Bytes& bytes : m_users) {
            EXPECT_TRUE(found.count(bytes)) << "the user's file is gone: " << bytes;
        }
        return members;
    }

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

    Files m_pictures, m_original;  // by name in the camera folder: the bytes now, and as they were
    const std::vector<Bytes> m_users = {"the user's own",
                                        std::string("PK\x05\x06", 4) + std::string(18, '\0')};
};

// Keeps, of the calls a run made, the first two and the last of each kind on each file: a hundred writes of
// one copy fail alike.
std::vector<std::string> Sample(const std::vector<std::string>& calls) {
    std::map<std::string, std::string> last;
    for (const std::string& key : calls) {
        last[key.substr(0, key.rfind('#'))] = key;
    }
    std::vector<std::string> kept;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(kept), [&](const std::string& key) {
        return std::stoi(key.substr(key.rfind('#') + 1)) <= 2 || last[key.substr(0, key.rfind('#'))] == key;
    });
    return kept;
}

class SweepTest : public testing::TestWithParam<PassCase> {};

TEST_P(SweepTest, EveryFailingCall) {
    const PassCase& pass = GetParam();
    g.fail.reset();
    g.calls.clear();
    {
        World world(pass);
        const transfer::TransferReport report = world.Run();
        world.Check(report, false);
        // Across file systems the write-protected file and the FIFO stay, and the archive keeps links too.
        EXPECT_EQ(report.Done(), pass.archive ? 7u : pass.across ? 8u : 10u);
    }
    // Each kind of destination takes its own way: an unnamed copy named by linkat, or the named fallback.
    const std::string way = pass.unnamed ? "linkat D/" : "renameat2 D/.tovaro-*";
    EXPECT_TRUE(!pass.across || pass.archive ||
                std::any_of(g.calls.begin(), g.calls.end(), [&](auto& c) { return c.starts_with(way); }));
    ASSERT_FALSE(HasFailure());
    size_t points = 0;
    for (const std::string& key : Sample(g.calls)) {
        const std::string call = key.substr(0, key.find(' '));
        for (const int error : g.errors.at(call)) {
            if (std::none_of(pass.sweeps.begin(), pass.sweeps.end(),
                             [&](auto& text) { return key.find(text) != key.npos; }) ||
                (error == kGarble && key.find(".zip") == std::string::npos) ||
                (error == kAppend && key.find(" C/") == std::string::npos)) {
                continue;  // not swept in this row, or no different from a run without a fault
            }
            SCOPED_TRACE(key + " fails with " + (error > 0 ? strerrorname_np(error) : std::to_string(error)));
            World world(pass);
            g.fail = {key, error};
            world.Check(world.Run(), call == "unlink");
            ++points;
            ASSERT_FALSE(HasFailure());
        }
    }
    g.fail.reset();
    std::printf("%s: %zu fault points checked\n", pass.name, points);
}

// Each state a power cut could leave: what the disk holds after the first `end` operations, without those
// in `dropped`.
TEST_P(SweepTest, EveryCrashState) {
    g.ops.clear();
    g.made.clear();
    g.recording = true;
    World world(GetParam());
    world.Run();
    g.recording = false;
    const std::vector<Op> ops = g.ops;
    // A change of names is durable once a folder it touches is flushed; flushes always are.
    const auto durable = [&](size_t i, size_t end) {
        bool flushed = ops[i].kind == 'd' || ops[i].kind == 'f';
        for (size_t j = i + 1; j < end; ++j) {
            flushed |=
                ops[j].kind == 'd' && (ops[j].a == fs::path(ops[i].b).parent_path() ||
                                       (ops[i].kind != 'l' && ops[j].a == fs::path(ops[i].a).parent_path()));
        }
        return flushed;
    };
    std::set<size_t> ends = {ops.size()};
    for (size_t i = 0; i < ops.size(); ++i) {
        ends.insert(durable(i, i) ? i : i + 1);
    }
    size_t states = 0;
    for (const size_t end : ends) {
        std::vector<size_t> open;  // changes of names not yet durable at `end`
        for (size_t i = 0; i < end; ++i) {
            if (!durable(i, end)) {
                open.push_back(i);
            }
        }
        std::vector<std::set<size_t>> variants = {{}, std::set<size_t>(open.begin(), open.end())};
        for (const size_t i : open) {
            std::set<size_t> dropped = {i};  // and what came after it on the same names
            for (const size_t j : open) {
                for (const size_t d : std::set<size_t>(dropped)) {
                    const std::set<std::string> touched = {ops[d].a, ops[d].b};
                    if (j > d && ((!ops[j].a.empty() && touched.count(ops[j].a)) ||
                                  (!ops[j].b.empty() && touched.count(ops[j].b)))) {
                        dropped.insert(j);
                    }
                }
            }
            variants.push_back(dropped);
        }
        for (const auto& dropped : variants) {
            auto [names, data] = world.m_start;
            std::vector<std::string> unlinked;
            for (size_t i = 0; i < end; ++i) {
                const Op& op = ops[i];
                if (dropped.count(i)) {
                    continue;
                } else if (op.kind == 'c') {
                    names[op.a] = op.inode, data[op.inode];
                } else if (op.kind == 'r' && names.count(op.a)) {
                    names[op.b] = names[op.a], names.erase(op.a);
                } else if (op.kind == 'l' && (op.a.empty() || names.count(op.a))) {
                    names[op.b] = op.a.empty() ? op.inode : names[op.a];
                } else if (op.kind == 'u') {
                    names.erase(op.a);
                    if (op.a.starts_with(world.m_cam)) {
                        unlinked.push_back(op.a);
                    }
                } else if (op.kind == 'f') {
                    data[op.inode] = op.data;
                }
            }
            SCOPED_TRACE("after " + std::to_string(end) + " of " + std::to_string(ops.size()) + " changes, " +
                         std::to_string(dropped.size()) + " dropped");
            world.CheckCrashState(names, data, unlinked);
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
