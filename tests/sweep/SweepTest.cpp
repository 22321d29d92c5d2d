// Proof by sweep rather than by list. Each pass runs over a camera folder that holds every kind of entry; the
// fault sweep then fails every call it made through the platform seam in turn, with each error that call can
// give, and the crash sweep rebuilds every state a power cut could leave on the disk. After each, no picture
// may be lost, nothing of the user's overwritten, and the report must say what the file system shows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
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
using namespace transfer;
using platform::SysCalls;
namespace fs = std::filesystem;
using Bytes = std::string;
using Files = std::map<std::string, Bytes>;
using Names = std::map<std::string, uint64_t>;
using Data = std::map<uint64_t, Bytes>;

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
    // The inode number, and for a file made during the run which one it was.
    uint64_t inode = 0;
    Bytes data = {};
};

struct Sweep {
    std::mutex mutex;
    // By call: each error it can give.
    std::map<std::string, std::vector<int>> errors;
    // Cut out of paths.
    std::vector<std::pair<std::string, std::string>> roots;
    std::map<int, std::string> fdTags;
    // Calls so far, by kind and file.
    std::map<std::string, int> seen;
    // The first name of each camera file renamed during the run, by its name now.
    std::map<std::string, std::string> named;
    // Every call of a run without a fault, as "kind file#n".
    std::vector<std::string> calls;
    // The call to fail (none while empty): the nth of its kind on one file (paths with the test's folders
    // and random names cut out, so that it is the same call from run to run whatever thread makes it), and
    // how.
    std::pair<std::string, int> fail;
    bool fired = false, recording = false, unnamed = true;
    std::vector<Op> ops;
    // Inode numbers given to files made during the run: they are reused.
    std::map<ino_t, uint64_t> made;
    // The bytes each picture now has, by name in the camera folder.
    Files* pictures = nullptr;
} g;

bool Has(std::string_view text, std::string_view part) {
    return text.find(part) != text.npos;
}

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
    if (const size_t at = path.find("/.tovaro-"); at != path.npos) {
        path.replace(at, path.find('/', at + 1) - at, "/.tovaro-*");
    }
    return path;
}

// Records what a successful call changed, for the crash sweep: `paths` are its path arguments.
void Record(const std::string& call, int result, bool existed, const std::vector<std::string>& paths,
            int fd) {
    struct stat st {};
    const auto flushed = [&](int of) {
        g.ops.push_back(
            {'f', {}, {}, g.made.count(st.st_ino) ? g.made[st.st_ino] : st.st_ino, ReadFile(Fd(of))});
    };
    if (call == "open" && ::fstat(result, &st) == 0 && (!existed || st.st_nlink == 0)) {
        g.made[st.st_ino] = st.st_ino | (g.ops.size() + 1) << 40;
        if (st.st_nlink > 0) {
            g.ops.push_back({'c', paths[0], {}, g.made[st.st_ino]});
        }
    } else if (call == "unlink") {
        g.ops.push_back({'u', paths[0]});
    } else if (call == "linkat" && ::stat(paths[0].c_str(), &st) == 0) {
        // An unnamed file gets its name.
        g.ops.push_back({'l', {}, paths[1], g.made[st.st_ino]});
    } else if (Has(call, "rename") || call == "link") {
        g.ops.push_back({call == "link" ? 'l' : 'r', paths[0], paths[1]});
    } else if (call == "syncfs") {
        // The data of every file: this file system is all there is.
        for (const auto& [open, tag] : g.fdTags) {
            if (::fstat(open, &st) == 0 && S_ISREG(st.st_mode)) {
                flushed(open);
            }
        }
    } else if (call == "fsync" && ::fstat(fd, &st) == 0) {
        S_ISDIR(st.st_mode) ? g.ops.push_back({'d', fs::read_symlink(Fd(fd))}) : flushed(fd);
    }
}

template <auto Field>
struct Hook;

// A call of the seam through the sweep: named by kind and file, failed when it is the call to fail, and
// recorded.
template <typename R, typename... A, R (*SysCalls::*Field)(A...)>
struct Hook<Field> {
    inline static std::string name;
    inline static R (*real)(A...);

    // Whether argument I is of type T (past the last argument stands a void).
    template <size_t I, typename T>
    static constexpr bool Is =
        std::is_same_v<std::tuple_element_t<std::min(I, sizeof...(A)), std::tuple<A..., void>>, T>;

    static void Install(SysCalls& calls, const char* call, const std::vector<int>& errors) {
        name = call;
        real = platform::RealSysCalls().*Field;
        calls.*Field = Call;
        g.errors[call] = errors;
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
        // By path (a link made for an unnamed file by the name it gets), else by descriptor.
        const std::string path = paths.empty() ? "" : paths[name == "linkat"];
        std::string tag = path.empty() ? g.fdTags[fd] : Tag(path);
        if constexpr (Is<0, int> && Is<1, int>) {
            // An fcntl's command.
            tag += ":" + std::to_string(std::get<1>(args));
        }
        if constexpr (Is<3, off_t>) {
            tag += "@" + std::to_string(std::get<3>(args));
        }
        const std::string key = name + " " + tag + "#" + std::to_string(++g.seen[name + " " + tag]);
        if (g.fail.first.empty()) {
            g.calls.push_back(key);
        }
        int error = !g.fired && g.fail.first == key ? g.fail.second : 0;
        g.fired |= error != 0;
        if constexpr (Is<1, int>) {
            if (name == "open" && (std::get<1>(args) & O_TMPFILE) == O_TMPFILE && !g.unnamed) {
                // As vfat, exFAT or NFS answer: the named fallback is used.
                error = EOPNOTSUPP;
            }
        }
        const bool existed = g.recording && !path.empty() && Exists(path);
        lock.unlock();
        if (error > 0) {
            errno = error;
            return R(-1);
        }
        Bytes garbled;
        if constexpr (Is<2, size_t>) {
            size_t& count = std::get<2>(args);
            if (error == kShort) {
                count = std::max<size_t>(1, count / 2);
            } else if (error == kGarble && count > 0) {
                garbled.assign(static_cast<const char*>(std::get<1>(args)), count);
                garbled[count / 2] ^= 0x20;
                std::get<1>(args) = garbled.data();
            }
        }
        // Without a power cut what a flush makes durable does not matter, and flushes of a real disk would
        // make the fault sweep slow; the crash sweep runs them.
        const R result = Has(name, "sync") && !g.recording ? R(0) : std::apply(real, args);
        if constexpr (Is<1, struct statfs*>) {
            if (!g.unnamed && tag.starts_with("C/")) {
                // FUSE: no lease sees every writer, a heuristic instead.
                std::get<1>(args)->f_type = 0x65735546;
            }
        }
        if constexpr (Is<4, struct statx*>) {
            // Linux can't set one, and archives hold it.
            std::get<4>(args)->stx_btime = {1600000000, 0, 0};
        }
        lock.lock();
        if (int(result) >= 0 && (name == "open" || name == "linkat")) {
            // A linked unnamed copy is known by its name from now on.
            g.fdTags[name == "open" ? int(result) : std::stoi(paths[0].substr(14))] = tag;
        }
        if (int(result) == 0 && Has(name, "rename") && tag.starts_with("C/")) {
            // Renamed in the camera folder, the picture keeps its first name.
            g.named[Tag(paths[1])] = g.named.count(tag) ? g.named[tag] : tag;
        }
        if (error == kAppend && result >= 0) {
            // By the file's own tag (a pread's holds its offset too), under the picture's first name.
            std::string picture = g.fdTags[fd];
            picture = (g.named.count(picture) ? g.named[picture] : picture).substr(2);
            if (g.pictures->count(picture)) {
                (*g.pictures)[picture] += "+more";
                std::ofstream(Fd(fd), std::ios::app) << "+more";
            }
        }
        if (g.recording && int(result) >= 0) {
            Record(name, int(result), existed, paths, fd);
        }
        return result;
    }
};

// Every call of the seam, through the sweep, with each error it can really give. Only writes to an archive
// are garbled: the archive is read back, and only ever written in order.
SysCalls Hooked() {
    SysCalls c = platform::RealSysCalls();
#define HOOK(field, ...) Hook<&SysCalls::field>::Install(c, #field, {__VA_ARGS__})
    HOOK(open, EACCES, ENOSPC, EINTR);
    HOOK(close, EIO);
    HOOK(read, EIO, EINTR, kShort, kAppend);
    HOOK(write, ENOSPC, EDQUOT, EIO, EINTR, kShort, kGarble);
    HOOK(pread, EIO, kShort, kAppend);
    HOOK(pwrite, ENOSPC, EIO, kShort);
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

// The members that Python's zipfile and `unzip -t` both read whole, by name; asked once per distinct archive.
const Files* Members(const Bytes& archive) {
    static std::map<size_t, std::optional<Files>> cache;
    auto [at, added] = cache.try_emplace(std::hash<Bytes>{}(archive));
    if (added) {
        const TempDir dir("/dev/shm");
        WriteFile(dir / "a.zip", archive);
        at->second = ReadArchive(dir / "a.zip", false);
    }
    return at->second ? &*at->second : nullptr;
}

// A camera folder with every kind of entry, a destination with files of the user's, and a settings file.
struct World {
    explicit World(const PassCase& pass)
        : m_pass(pass), m_camBase("/dev/shm"), m_dstBase(pass.across ? "/tmp" : "/dev/shm") {
        for (const std::string& folder :
             {m_cam, m_dst, m_cam + "/100CANON", m_cam + "/IMG_0003 -44.jpg", m_dstBase.path + "/state"}) {
            MakeFolder(folder);
        }
        // Streamed, and above the held limit.
        const size_t big = pass.archive ? 150000 : 1100000;
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
            // Read, the access time stays.
            const timespec times[2] = {{1893456000, 0}, {1700000000, 0}};
            ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
        }
        ::chmod((m_cam + "/locked.jpg").c_str(), 0444);
        fs::create_symlink("IMG_0003.JPG", m_cam + "/link.jpg");
        ::mkfifo((m_cam + "/pipe.jpg").c_str(), 0644);
        WriteFile(m_cam + "/notes.txt", "not taken");
        for (const auto& [name, bytes] : m_users) {
            WriteFile(m_dst + "/" + name, bytes);
        }
        WriteFile(m_ini, kSettings);
        WriteFile(m_log, kEarlierLog);
        // The state before the run: names, and for the crash sweep what the files hold.
        for (const auto& [path, st] : Entries()) {
            m_start.first[path] = st.st_ino;
            if (S_ISREG(st.st_mode)) {
                m_start.second[st.st_ino] = ReadFile(path);
            }
        }
        g.roots = {{m_cam, "C"}, {m_dst, "D"}, {m_ini, "S"}, {m_log, "L"}, {m_dstBase.path, "B"}};
        g.pictures = &m_pictures;
        g.unnamed = pass.unnamed;
    }

    // The pass, with Number (so the counter is kept after every file), walking subfolders, RAW pictures and
    // sidecars taken, one compressor worker; in fast mode the big picture is cut into blocks.
    TransferReport Run() {
        g.seen.clear();
        g.fdTags.clear();
        g.named.clear();
        g.fired = false;
        PlainNamingInputs inputs;
        inputs.numberChecked = true;
        inputs.numberText = "41";
        const SettingsFile settings(m_ini);
        const platform::ScopedSysCalls hooked(Hooked());
        auto log = ImportLog::Open(m_dstBase.path + "/state");
        if (!log) {
            // As tovaro-cli does: without its log no transfer starts.
            TransferReport report;
            report.problem = LogProblem(log.Error());
            return report;
        }
        PassOptions options;
        options.recursive = true;
        options.workers = 1;
        options.compression = m_pass.fast ? Compression::Fast : Compression::Standard;
        options.moveExtensions = options.archiveExtensions = {".jpg", ".cr2", ".xmp"};
        options.log = &*log;
        return (m_pass.archive ? ArchivePass : MovePass)(m_cam, m_dst, kNameNumber, inputs, settings,
                                                         options);
    }

    // The invariants after a run; `leftover`: a temporary file may stay (its removal was what failed).
    void Check(const TransferReport& report, bool leftover) {
        // What each regular file holds, and what a link or a FIFO is.
        Files files;
        const auto entries = Entries();
        for (const auto& [path, st] : entries) {
            if (Has(path, "/.tovaro-")) {
                // A temporary file is left.
                EXPECT_TRUE(leftover) << Tag(path);
            } else if (S_ISREG(st.st_mode)) {
                files[path] = ReadFile(path);
            } else if (!S_ISDIR(st.st_mode)) {
                files[path] = S_ISLNK(st.st_mode) ? "a link" : "a FIFO";
            }
        }
        const auto [members, log] = ExpectKept(files);
        // Under a final name in the destination only what is whole: a picture as it is or was before another
        // program appended to it, a file of the user's, an archive that reads, a link or a FIFO moved.
        std::set<Bytes> whole = {"a link", "a FIFO"};
        for (const Files* kept : {&m_pictures, &m_users}) {
            for (const auto& [name, bytes] : *kept) {
                whole.insert(bytes);
            }
        }
        for (const auto& [path, bytes] : files) {
            EXPECT_TRUE(!path.starts_with(m_dst) || (path.ends_with(".zip") && Members(bytes)) ||
                        whole.count(bytes) || whole.count(bytes + "+more"))
                << Tag(path);
        }
        std::set<std::string> expected = {m_dstBase.path + "/.tovaro.ini.lock"};
        size_t logged = 0;
        for (const TransferItem& item : report.items) {
            SCOPED_TRACE(item.oldName + " -> " + item.newName + ": " + item.reason);
            const std::string old = m_cam + "/" + item.oldName, moved = m_dst + "/" + item.newName;
            const std::string renamed = fs::path(old).parent_path() / item.newName;
            const Bytes is = m_pictures.count(item.oldName) ? m_pictures[item.oldName]
                             : item.oldName == "link.jpg"   ? "a link"
                                                            : "a FIFO";
            const auto holds = [&](const Files& in, const std::string& path) {
                return in.count(path) && in.at(path) == is;
            };
            const bool inCamera = holds(files, old) || holds(files, renamed);
            const bool copied = m_pass.archive ? holds(members, renamed) : holds(files, moved);
            expected.insert({renamed, moved});
            const bool gone = item.outcome == Outcome::Done;
            const bool inLog = log.count("plan " + old) && log.count("done " + old);
            EXPECT_EQ(inCamera, !gone);
            EXPECT_TRUE(copied == (item.outcome != Outcome::Kept) || (m_pass.archive && inCamera));
            EXPECT_EQ(item.reason.empty() || item.reason.starts_with("not yet"), gone);
            // What undo needs: a file that left is in the log, and the log never says a file left that
            // stayed.
            EXPECT_TRUE(!gone || inLog || !report.logError.empty());
            EXPECT_LE(log.count("done " + old), gone ? 1u : 0u);
            logged += inLog;
        }
        // Exit status 0 exactly when every taken file is in its place, every entry was examined (an entry
        // that can't be is only ever the fault's doing), the counter kept and the log written, and flushed.
        EXPECT_TRUE(report.unread.empty() || g.fired);
        EXPECT_EQ(report.AllDone() && report.counterError.empty() && report.logError.empty(),
                  report.Done() == 10 && report.unread.empty() && Has(files[m_ini], "counter=49") &&
                      logged == 10 && log.count("end ") && !(g.fired && g.fail.first.starts_with("fsync L#")))
            << report.problem << report.counterError << report.logError;
        for (const auto& [path, st] : entries) {
            // Nothing unexpected is left.
            EXPECT_TRUE(m_start.first.count(path) || expected.count(path) || Has(path, "/ArchivePics-") ||
                        Has(path, "/.tovaro-"))
                << Tag(path);
        }
    }

    // "Nothing lost" in a state a power cut could leave: names (path -> inode) and what each inode holds.
    // Nothing has left the camera folder without a word in the log.
    void CheckCrashState(const Names& names, const Data& data) {
        Files files;
        for (const auto& [path, inode] : names) {
            if (!Has(path, "/.tovaro-") && data.count(inode)) {
                files[path] = data.at(inode);
            }
        }
        const auto log = ExpectKept(files).second;
        for (const auto& [path, inode] : m_start.first) {
            EXPECT_TRUE(names.count(path) || !path.starts_with(m_cam) || log.count("plan " + path))
                << Tag(path);
        }
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
    // Names and data before the run.
    std::pair<Names, Data> m_start;

    static constexpr const char* kSettings = "[settings]\nnote=kept\ncounter=41\n";
    static constexpr const char* kEarlierLog =
        "t0\t2026-01-01T00:00:00Z\tstart\tmove\t/card\t/pictures\t\t\t0\t0.000000000\n";

    // What lstat says of every entry below the test's folders (one folder when both are on /dev/shm).
    std::map<std::string, struct stat> Entries() const {
        std::map<std::string, struct stat> entries;
        for (const std::string& base : {m_camBase.path, m_dstBase.path}) {
            for (const auto& entry : fs::recursive_directory_iterator(base)) {
                ::lstat(entry.path().c_str(), &entries[entry.path()]);
            }
        }
        return entries;
    }

    // What every state must show: every picture and every file of the user's in `files` or whole in an
    // archive among them; the settings file as it was or with only its counter changed; the log beginning
    // with the earlier transfer's record as it was, and holding no line that is not a whole record. Gives
    // the archives' members, and the log's records as "event old-path" (both old and new path for a plan).
    std::pair<Files, std::multiset<std::string>> ExpectKept(Files& files) const {
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
        for (const Files* kept : {&m_pictures, &m_users}) {
            for (const auto& [name, bytes] : *kept) {
                // Lost.
                EXPECT_TRUE(found.count(bytes)) << name;
            }
        }
        Bytes settings = files[m_ini];
        // (npos + 8 wraps below 8)
        if (const size_t at = settings.find("counter=") + 8; at >= 8) {
            settings.replace(at, settings.find_first_not_of("0123456789", at) - at, "41");
        }
        EXPECT_EQ(settings, kSettings);
        const Bytes& text = files[m_log];
        EXPECT_TRUE(text.starts_with(kEarlierLog)) << text;
        std::multiset<std::string> records;
        for (size_t start = 0, end; (end = text.find('\n', start)) != Bytes::npos; start = end + 1) {
            const auto record = ParseLogRecord(std::string_view(text).substr(start, end - start));
            EXPECT_TRUE(record) << text.substr(start, end - start);
            if (record && record->transfer != "t0") {
                records.insert(record->event + " " + record->oldPath);
                if (record->event == "plan") {
                    records.insert("plan " + record->newPath);
                }
            }
        }
        return {members, records};
    }

    // By name in the camera folder: the bytes each picture has now.
    Files m_pictures;
    // By name in the destination: a file under a picture's new name, and an earlier "archive".
    Files m_users = {{"IMG_0003 -44.jpg", "the user's own"},
                     {"ArchivePics.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0')}};
};

// Keeps, of the calls a run made, the first two and the last of each kind on each file: a hundred writes of
// one copy fail alike.
std::vector<std::string> Sample(std::vector<std::string> calls) {
    std::map<std::string, std::string> last;
    for (const auto& key : calls) {
        last[key.substr(0, key.rfind('#'))] = key;
    }
    std::erase_if(calls, [&](const auto& key) {
        return std::stoi(key.substr(key.rfind('#') + 1)) > 2 && last[key.substr(0, key.rfind('#'))] != key;
    });
    return calls;
}

class SweepTest : public testing::TestWithParam<PassCase> {};

TEST_P(SweepTest, EveryFailingCall) {
    const PassCase& pass = GetParam();
    g.fail = {};
    g.calls.clear();
    {
        World world(pass);
        const TransferReport report = world.Run();
        world.Check(report, false);
        // Across file systems the write-protected file and the FIFO stay, and the archive keeps links too.
        EXPECT_EQ(report.Done(), pass.archive ? 7u : pass.across ? 8u : 10u);
    }
    // Each kind of destination takes its own way: an unnamed copy named by linkat, or the named fallback.
    const std::string way = pass.unnamed ? "linkat D/" : "renameat2 D/.tovaro-*";
    EXPECT_TRUE(!pass.across || pass.archive ||
                std::ranges::any_of(g.calls, [&](auto& call) { return call.starts_with(way); }));
    ASSERT_FALSE(HasFailure());
    size_t points = 0;
    for (const std::string& key : Sample(g.calls)) {
        const std::string call = key.substr(0, key.find(' '));
        for (const int error : g.errors.at(call)) {
            if (std::ranges::none_of(pass.sweeps, [&](auto& text) { return Has(key, text); }) ||
                (error == kGarble && !Has(key, ".zip")) || (error == kAppend && !Has(key, " C/"))) {
                // Not swept in this row, or no different from a run without a fault.
                continue;
            }
            SCOPED_TRACE(key + " fails with " + (error > 0 ? strerrorname_np(error) : std::to_string(error)));
            World world(pass);
            g.fail = {key, error};
            world.Check(world.Run(), call == "unlink");
            ++points;
            ASSERT_FALSE(HasFailure());
        }
    }
    g.fail = {};
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
    const std::vector<Op>& ops = g.ops;
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
    // The states just before each flush and just after each other change.
    std::set<size_t> ends = {ops.size()};
    for (size_t i = 0; i < ops.size(); ++i) {
        ends.insert(durable(i, i) ? i : i + 1);
    }
    size_t states = 0;
    for (const size_t end : ends) {
        // Changes of names not yet durable at `end`.
        std::vector<size_t> open;
        for (size_t i = 0; i < end; ++i) {
            if (!durable(i, end)) {
                open.push_back(i);
            }
        }
        // None of them dropped, all of them, and each one with every later one on a name a dropped one
        // touched.
        std::vector<std::set<size_t>> variants = {{}, {open.begin(), open.end()}};
        for (const size_t i : open) {
            std::set<size_t>& dropped = variants.emplace_back();
            std::set<std::string> touched = {ops[i].a, ops[i].b};
            for (const size_t j : open) {
                touched.erase("");
                if (j == i || (j > i && (touched.count(ops[j].a) || touched.count(ops[j].b)))) {
                    dropped.insert(j);
                    touched.insert({ops[j].a, ops[j].b});
                }
            }
        }
        for (const auto& dropped : variants) {
            auto [names, data] = world.m_start;
            for (size_t i = 0; i < end; ++i) {
                const Op& op = ops[i];
                if (dropped.count(i)) {
                    continue;
                } else if (op.kind == 'c') {
                    names[op.a] = op.inode;
                    // Made, empty until its data is flushed.
                    data[op.inode];
                } else if (op.kind == 'r' && names.count(op.a)) {
                    names[op.b] = names[op.a];
                    names.erase(op.a);
                } else if (op.kind == 'l' && (op.a.empty() || names.count(op.a))) {
                    names[op.b] = op.a.empty() ? op.inode : names[op.a];
                } else if (op.kind == 'u') {
                    names.erase(op.a);
                } else if (op.kind == 'f') {
                    data[op.inode] = op.data;
                }
            }
            SCOPED_TRACE(testing::Message()
                         << end << " of " << ops.size() << " changes, " << dropped.size() << " dropped");
            world.CheckCrashState(names, data);
            ++states;
            ASSERT_FALSE(HasFailure());
        }
    }
    std::printf("%s: %zu crash states checked\n", GetParam().name, states);
}

INSTANTIATE_TEST_SUITE_P(Passes, SweepTest,
                         testing::ValuesIn(std::vector<PassCase>{
                             {"MoveWithinOneFileSystem", false, false, true},
                             {"MoveAcrossFileSystems", false, true, true},
                             {"MoveAcrossNamedTemporaries", false, true, false, false, {" D/"}},
                             {"Archive", true, false, true},
                             {"ArchiveFastToAnotherFileSystem", true, true, true, true, {" D/", "read C/"}}}),
                         [](const auto& pass) { return std::string(pass.param.name); });

}  // namespace
