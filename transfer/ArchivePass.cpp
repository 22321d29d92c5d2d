#include "transfer/ArchivePass.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Remove.h"
#include "platform/Sys.h"
#include "transfer/ImportLog.h"
#include "transfer/PassLoop.h"
#include "zip/CompressorPool.h"
#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

namespace transfer {
namespace {

// How far the search for a free ArchivePics-N.zip goes before it gives up.
constexpr int kMostKeptArchives = 9999;
// How often the archive is looked for again when another program creates or moves one between our looks.
constexpr int kMostAttempts = 3;

// A picture whose member the writer accepted; it leaves the camera folder only once the member has been read
// back from the disk and found whole.
struct Packed {
    size_t item;                // index into the report
    std::string path;           // the picture under its new name
    zip::ZipEntry recorded;     // what the writer recorded for it
    platform::FileInfo before;  // the picture as it was when it was packed
};

// The archive this pass writes.
struct Archive {
    std::string path;
    zip::ZipWriter writer;
    platform::FileInfo file;  // which file that is, whatever its name becomes
    std::string problem;      // why there is no writer, for every picture that therefore stays
};

// The camera folder as an absolute path: members are named by their full path, whatever folder the pass was
// started in. Dot segments are resolved by the name alone.
std::string AbsoluteFolder(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    return error || folder.starts_with('/') ? folder : absolute.lexically_normal().string();
}

std::string KindOf(const platform::FileInfo& info) {
    if (info.IsDirectory()) {
        return "a folder";
    }
    if (info.IsSymlink()) {
        return "a symbolic link";
    }
    return "not a regular file but a pipe, socket or device";
}

// Whether another pass is writing the archive at `path` right now: it holds the writer's lock on it. One
// that can't be asked is taken for being written, so that it is never moved from under its writer.
bool IsBeingWritten(const std::string& path) {
    const auto file = platform::File::OpenRegularForReading(path);
    const platform::Result<bool> locked = file ? file->IsLockedElsewhere() : platform::Result<bool>(false);
    return !locked.Ok() || *locked;
}

std::string KeptName(const std::string& toDir, int n) {
    return platform::JoinPath(toDir, "ArchivePics-" + std::to_string(n) + ".zip");
}

// The first ArchivePics-N.zip that names nothing yet.
std::optional<std::string> FirstFreeName(const std::string& toDir) {
    for (int n = 1; n <= kMostKeptArchives; ++n) {
        if (platform::InfoOfPath(KeptName(toDir, n), /*followLinks=*/false).Error().error == ENOENT) {
            return KeptName(toDir, n);
        }
    }
    return std::nullopt;
}

// Moves an archive that an earlier pass left to the first free ArchivePics-N.zip, never replacing anything:
// its pictures are gone from the camera folder, so writing the new archive over it would lose them.
platform::MoveResult KeepEarlierArchive(const std::string& toDir, const std::string& archivePath,
                                        std::string* keptAs) {
    for (int n = 1; n <= kMostKeptArchives; ++n) {
        const platform::MoveResult moved = platform::MoveNoReplace(archivePath, KeptName(toDir, n));
        if (moved.Moved()) {
            *keptAs = KeptName(toDir, n);
        }
        if (moved.Error() != EEXIST) {
            return moved;
        }
    }
    return platform::MoveResult::Failed(
        platform::Failure{EEXIST, "rename", KeptName(toDir, kMostKeptArchives)},
        "ArchivePics-1.zip to ArchivePics-" + std::to_string(kMostKeptArchives) + ".zip are all taken");
}

// Step 1: creates this pass's archive as a new file. An archive left by an earlier pass is kept under another
// name first; one that another pass is still writing is left alone, and this pass writes the first free
// ArchivePics-N.zip instead. Only something that is not an archive of ours under the name is the report's
// problem (the pass then does nothing at all); an archive that can't be created is told in archive.problem.
void MakeArchive(const std::string& toDir, bool dryRun, zip::Compression compression, Archive& archive,
                 TransferReport& report) {
    const std::string main = platform::JoinPath(toDir, kArchiveName);
    std::string& notice = report.notice;
    for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
        const auto there = platform::InfoOfPath(main, /*followLinks=*/false);
        if (there && !there->IsRegular()) {
            report.problem =
                main + " is " + KindOf(*there) + ", not an archive: move it out of the way, then try again";
            return;
        }
        if (dryRun) {
            return;
        }
        std::string target = main;
        if (there && IsBeingWritten(main)) {
            const auto free = FirstFreeName(toDir);
            if (!free) {
                archive.problem = "no free name was left for the archive";
                return;
            }
            target = *free;
            notice = std::string(kArchiveName) +
                     " is being written by another transfer, so this one's archive is " + target + ".";
        } else if (there) {
            std::string keptAs;
            const platform::MoveResult kept = KeepEarlierArchive(toDir, main, &keptAs);
            if (!kept.Moved()) {
                if (platform::InfoOfPath(main, false).Error().error != ENOENT) {
                    archive.problem = "the earlier " + std::string(kArchiveName) + " could not be kept (" +
                                      kept.reason + "), so no new archive was made";
                    return;
                }
                continue;  // another transfer moved it meanwhile
            }
            notice = "The earlier " + std::string(kArchiveName) + " was kept as " + keptAs + ".";
        }
        archive.writer = zip::ZipWriter::CreateNew(target);
        archive.writer.SetCompression(compression);
        if (archive.writer.IsOpen()) {
            archive.path = target;
            archive.file = archive.writer.ArchiveFile();
            return;
        }
        if (const int error = archive.writer.LastError().error; error != EEXIST) {
            archive.problem =
                "the archive " + target + " could not be created: " + platform::DescribeError(error);
            return;
        }
    }
    archive.problem = "the archive could not be created: other programs kept creating " + main;
}

// The system's error behind a writer's status, as ": No space left on device"; empty when none failed.
std::string Because(const zip::SystemError& error) {
    return error.call != nullptr && error.error != 0 ? ": " + platform::DescribeError(error.error) : "";
}

std::string WhyNotAdded(const zip::CompressorPool::Outcome& outcome, size_t membersSoFar) {
    const bool reading = outcome.error.call != nullptr && std::string_view(outcome.error.call) != "write";
    switch (outcome.status) {
        case zip::ZipStatus::CannotOpenFile:
            return "it could not be opened for reading" + Because(outcome.error);
        case zip::ZipStatus::TooLarge:
            return membersSoFar >= zip::kMaxMembers
                       ? "the archive holds as many pictures as a ZIP archive can"
                       : "it is too large for a ZIP archive (4 GiB or more)";
        case zip::ZipStatus::WriteFailed:
            return outcome.error.call == nullptr ? "it could not be compressed"
                   : reading                     ? "it could not be read whole" + Because(outcome.error)
                             : "the archive could not be written" + Because(outcome.error);
        default:
            return std::string("the archive could not be written (") + zip::ZipStatusName(outcome.status) +
                   ")" + Because(outcome.error);
    }
}

// Step 2, for each picture: renames it in place and hands it to the pool that packs it. It is opened without
// following a link and without blocking, and packed only when the open file is a regular one; what it was
// then is what the removal later compares with. Whether it was handed over; `reason` says why not.
bool RenameAndPack(const std::string& oldPath, const std::string& newPath, Archive& archive,
                   zip::CompressorPool* pool, size_t item, std::string& reason, std::vector<Packed>& packed) {
    if (newPath != oldPath) {
        const platform::MoveResult renamed = platform::MoveNoReplace(oldPath, newPath);
        if (!renamed.Moved()) {
            // Another file already having the new name is skipped: archiving the file that has the name
            // would pack (and remove) the wrong picture.
            reason = renamed.Error() == EEXIST ? "another file in the camera folder already has that name"
                                               : "it could not be renamed: " + renamed.reason;
            return false;
        }
    }
    auto source = pool ? platform::File::OpenRegularForReading(newPath) : platform::Failure{};
    const auto before = source ? source->Info() : source.Error();
    if (!before) {
        reason = pool ? "it could not be opened for reading: " + platform::DescribeError(before.Error().error)
                      : archive.problem;
        return false;
    }
    packed.push_back(Packed{item, newPath, {}, *before});
    // Replaced once the archive is read back; a member written at once (a large one) may replace it sooner.
    reason = "not yet checked";
    pool->Submit(newPath, std::move(*source));
    return true;
}

// What reading a member back found, in the words its picture's report line gives.
zip::ReadResult NotWhole(zip::ReadResult read) {
    read.reason = read.Ok() ? "" : "its copy in the archive is not whole: " + read.reason;
    return read;
}

// Why no member can be checked, for every picture the archive holds.
zip::ReadResult Unchecked(std::string reason) {
    return zip::ReadResult{zip::ReadStatus::ReadFailed, std::move(reason)};
}

// Reads each member back from the disk as soon as the writer has recorded it, while the pictures after it
// are still being compressed, so that little is left to check once the archive is flushed. It takes as many
// threads as there are compressors: decoding a member costs more than compressing it fast, and one thread
// would hold every core back to its own speed. Direct reads go past the page cache and first write the
// member's pages out; where the file system has none, nothing is checked early and the whole check waits for
// the flush. A member checked here is still matched against the central directory read back after the
// flush, and nothing is removed before.
class EarlyCheck {
  public:
    EarlyCheck(int archiveFd, unsigned threads) {
        const std::string path = "/proc/self/fd/" + std::to_string(archiveFd);
        for (unsigned i = 0; i < std::max(threads, 1u); ++i) {
            auto direct = zip::DirectFileByteSource::Open(path);
            if (!direct) {
                break;  // what is not checked here is checked after the flush
            }
            m_sources.push_back(std::make_unique<zip::DirectFileByteSource>(std::move(*direct)));
            try {
                m_threads.emplace_back([this, source = m_sources.back().get()] { Work(*source); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    ~EarlyCheck() { Wait(); }
    EarlyCheck(const EarlyCheck&) = delete;
    EarlyCheck& operator=(const EarlyCheck&) = delete;

    // The member of the packed picture numbered `packed`, as the writer recorded it.
    void Add(size_t packed, const zip::ZipEntry& recorded) {
        if (m_threads.empty()) {
            return;
        }
        zip::MemberInfo member;
        member.name = recorded.name;
        member.flags = recorded.flags;
        member.method = recorded.method;
        member.crc32 = recorded.crc32;
        member.compressedSize = recorded.compressedSize;
        member.uncompressedSize = recorded.uncompressedSize;
        member.localHeaderOffset = recorded.localHeaderOffset;
        std::lock_guard lock(m_mutex);
        m_queue.emplace_back(packed, std::move(member));
        m_added.notify_one();
    }

    // Once every member added has been checked: the result for each packed picture, none where it was not
    // checked here.
    std::vector<std::optional<zip::ReadResult>> Results(size_t packed) {
        Wait();
        m_results.resize(packed);
        return std::move(m_results);
    }

  private:
    void Work(zip::DirectFileByteSource& source) {
        zip::ZipReader reader(source);
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_added.wait(lock, [this] { return m_done || !m_queue.empty(); });
            if (m_queue.empty()) {
                return;
            }
            auto [packed, member] = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            const zip::ReadResult read =
                source.Reload() ? reader.VerifyDescribed(member)
                                : zip::ReadResult{zip::ReadStatus::ReadFailed, "its size is unknown"};
            lock.lock();
            m_results.resize(std::max(m_results.size(), packed + 1));
            m_results[packed] = NotWhole(read);
        }
    }

    void Wait() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_added.notify_all();
        for (std::thread& thread : m_threads) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }

    std::vector<std::unique_ptr<zip::DirectFileByteSource>> m_sources;
    std::mutex m_mutex;
    std::condition_variable m_added;
    std::deque<std::pair<size_t, zip::MemberInfo>> m_queue;
    std::vector<std::optional<zip::ReadResult>> m_results;
    bool m_done = false;
    std::vector<std::thread> m_threads;
};

// Step 3: closes the archive and flushes it (and its name) to the disk. The file checked next must be the one
// written, whatever its name is now: it is the descriptor handed back, opened and checked here.
zip::ReadResult CloseAndFlush(Archive& archive, const std::string& toDir, platform::File* written) {
    if (archive.writer.Close() != zip::ZipStatus::Ok) {
        const std::string because = Because(archive.writer.LastError());
        // Without its directory no reader can use it, and every picture in it stays: it is not left
        // behind under the archive's name.
        const auto there = platform::InfoOfPath(archive.path, /*followLinks=*/false);
        if (there && there->IsSameFile(archive.file)) {
            platform::Sys().unlink(archive.path.c_str());
        }
        return Unchecked("the archive could not be completed" +
                         (because.empty() ? std::string(": a write failed") : because));
    }
    auto opened = platform::File::OpenForReading(archive.path);
    const auto info = opened ? opened->Info() : opened.Error();
    if (!info || !info->IsSameFile(archive.file)) {
        return Unchecked("the archive was moved or replaced by another program before it was checked");
    }
    *written = std::move(*opened);
    platform::Status flushed = written->Sync();
    flushed = flushed ? platform::SyncPath(toDir) : flushed;
    if (!flushed) {
        return Unchecked("the archive could not be flushed to the disk: " +
                         platform::DescribeError(flushed.Error().error));
    }
    return {};
}

// A source on the heap, for a reader of its own.
template <typename Source>
platform::Result<std::unique_ptr<zip::ByteSource>> Made(platform::Result<Source> source) {
    if (!source) {
        return source.Error();
    }
    return std::unique_ptr<zip::ByteSource>(std::make_unique<Source>(std::move(*source)));
}

// Sources over the very file written (through its descriptor, whatever its name), reading what the disk
// holds: past the page cache where the file system allows that, else after the file's cached pages have been
// dropped. Null when none can be made.
zip::SourceMaker SourcesOver(platform::File& written, zip::ReadResult* problem) {
    const std::string path = "/proc/self/fd/" + std::to_string(written.Descriptor());
    const auto direct = zip::DirectFileByteSource::Open(path);
    if (direct) {
        return [path]() { return Made(zip::DirectFileByteSource::Open(path)); };
    }
    const platform::Status dropped = direct.Error().error == EINVAL ? written.DropCache() : direct.Error();
    if (!dropped) {
        *problem = Unchecked("the archive could not be read back from the disk: " +
                             platform::DescribeError(dropped.Error().error));
        return nullptr;
    }
    return [path]() { return Made(zip::FileByteSource::Open(path)); };
}

size_t FindMember(const zip::ZipReader& reader, const zip::ZipEntry& recorded) {
    const auto& members = reader.Members();
    for (size_t i = 0; i < members.size(); ++i) {
        if (members[i].localHeaderOffset == recorded.localHeaderOffset && members[i].name == recorded.name) {
            return i;
        }
    }
    return zip::ZipReader::kNotFound;
}

// Whether the central directory read back holds `recorded` as the writer recorded it.
bool SameRecord(const zip::MemberInfo& member, const zip::ZipEntry& recorded) {
    return member.crc32 == recorded.crc32 && member.compressedSize == recorded.compressedSize &&
           member.uncompressedSize == recorded.uncompressedSize && member.method == recorded.method &&
           member.flags == recorded.flags;
}

// Step 4: whether each packed picture's member reads back whole from the disk, as the writer recorded it, on
// every core: its data as checked early, or else now. One result per packed picture.
std::vector<zip::ReadResult> Check(platform::File& written, const std::vector<Packed>& packed,
                                   const std::vector<std::optional<zip::ReadResult>>& early,
                                   unsigned threads) {
    zip::ReadResult problem;
    const zip::SourceMaker makeSource = SourcesOver(written, &problem);
    auto source = makeSource ? makeSource() : platform::Failure{};
    std::optional<zip::ZipReader> reader;
    if (problem.Ok() && source) {
        reader.emplace(**source);
        if (const zip::ReadResult opened = reader->Open(); !opened.Ok()) {
            problem = Unchecked("the archive could not be read back: " + opened.reason);
        }
    } else if (problem.Ok()) {
        problem =
            Unchecked("the archive could not be read back: " + platform::DescribeError(source.Error().error));
    }
    std::vector<zip::ReadResult> results(packed.size(), problem);
    if (!problem.Ok()) {
        return results;
    }
    std::vector<zip::MemberCheck> checks;
    std::vector<size_t> checked;  // which packed picture each check is for
    for (size_t i = 0; i < packed.size(); ++i) {
        const size_t index = FindMember(*reader, packed[i].recorded);
        if (index == zip::ZipReader::kNotFound) {
            results[i] = Unchecked("its copy is missing from the archive");
        } else if (early[i] && !early[i]->Ok()) {
            results[i] = *early[i];
        } else if (early[i]) {
            results[i] = SameRecord(reader->Members()[index], packed[i].recorded)
                             ? zip::ReadResult{}
                             : Unchecked("its entry in the archive's directory is not the one written");
        } else {
            checks.push_back({index, packed[i].recorded.crc32, packed[i].recorded.uncompressedSize});
            checked.push_back(i);
        }
    }
    const std::vector<zip::ReadResult> read = reader->VerifyAll(checks, makeSource, threads);
    for (size_t k = 0; k < checked.size(); ++k) {
        results[checked[k]] = NotWhole(read[k]);
    }
    return results;
}

// Step 5: removes a picture whose copy is safe, through the one removal gate: unless it changed since it
// was packed, is still being written or is write-protected.
void Remove(const Packed& p, TransferItem& item) {
    const platform::Result<platform::Removal> removed = platform::RemoveIfUnchanged(p.path, p.before);
    if (!removed) {
        item.outcome = Outcome::CopyKept;
        item.reason = "it could not be removed: " + removed.Error().Describe();
        return;
    }
    switch (*removed) {
        case platform::Removal::Removed:
            item.outcome = Outcome::Done;
            item.reason.clear();
            break;
        case platform::Removal::Gone:
        case platform::Removal::Changed:
            item.reason = "it changed after it was packed, so it stays";
            break;
        case platform::Removal::BeingWritten:
            item.reason = "it is still being written";
            break;
        case platform::Removal::Protected:
            item.outcome = Outcome::CopyKept;
            item.reason = "it is write-protected";
            break;
    }
}

// Steps 3 to 5 for every picture the archive holds.
void Finish(Archive& archive, const std::string& toDir, const std::vector<Packed>& packed, EarlyCheck& early,
            unsigned threads, TransferReport& report) {
    platform::File written;
    const zip::ReadResult flushed = CloseAndFlush(archive, toDir, &written);
    const std::vector<std::optional<zip::ReadResult>> checkedEarly = early.Results(packed.size());
    const std::vector<zip::ReadResult> checked =
        flushed.Ok() ? Check(written, packed, checkedEarly, threads) : std::vector(packed.size(), flushed);
    for (size_t i = 0; i < packed.size(); ++i) {
        if (checked[i].Ok()) {
            Remove(packed[i], report.items[packed[i].item]);
        } else {
            report.items[packed[i].item].reason = checked[i].reason;
        }
    }
}

}  // namespace

TransferReport ArchivePass(const std::string& fromDir, const std::string& toDir, NameOption option,
                           NamingInputs& inputs, const SettingsFile& settings, const PassOptions& options) {
    const std::string camera = AbsoluteFolder(fromDir);
    const std::string toFolder = toDir;
    TransferReport report;
    std::optional<TransferRecorder> recorder;
    if (!StartRecording(options, /*archive=*/true, fromDir, toFolder, recorder, report)) {
        return report;
    }
    // The archive is made before the first entry is looked at, so it is there (without members) even when no
    // picture is taken, and the listing that follows sees it -- as a .zip it is never taken.
    Archive archive;
    const zip::Compression compression =
        options.compression == Compression::Fast ? zip::Compression::Fast : zip::Compression::Standard;
    MakeArchive(toFolder, options.dryRun, compression, archive, report);
    if (!report.problem.empty()) {
        EndRecording(recorder, report);
        return report;
    }
    if (recorder) {
        recorder->SetArchive(archive.path);
    }
    if (!options.folders.empty()) {
        // Dated folders are for moved files; the archive keeps each picture under its path.
        report.notice += std::string(report.notice.empty() ? "" : " ") +
                         "The archive has no dated folders: folders= is for moved files.";
    }

    // Pictures are compressed on every core and come back in order; the ones the archive holds go on to the
    // check, the others stay with the reason.
    std::vector<Packed> submitted, packed;
    std::set<std::string> memberNames;  // the member names handed to the archive so far
    std::optional<zip::CompressorPool> pool;
    std::optional<EarlyCheck> early;
    if (archive.writer.IsOpen()) {
        pool.emplace(
            archive.writer,
            [&](const zip::CompressorPool::Outcome& outcome) {
                const Packed& p = submitted[outcome.sequence];
                if (outcome.status == zip::ZipStatus::Ok) {
                    packed.push_back(p);
                    packed.back().recorded = outcome.recorded;
                    early->Add(packed.size() - 1, outcome.recorded);
                } else {
                    report.items[p.item].reason = WhyNotAdded(outcome, packed.size());
                }
            },
            options.workers);
        early.emplace(archive.writer.ArchiveDescriptor(), pool->Workers());  // a checker for each compressor
    }
    const auto pack = [&](const std::string& oldPath, TransferItem& item, bool /*leadsGroup*/) {
        const auto info = platform::InfoOfPath(oldPath, /*followLinks=*/false);
        if (!info || !info->IsRegular()) {
            item.reason = info ? "it is " + KindOf(*info) + ", so it was left alone"
                               : platform::DescribeError(info.Error().error);
            return false;
        }
        if (archive.writer.IsOpen() && info->IsSameFile(archive.file)) {
            item.reason = "it is the archive this transfer writes";  // with .zip among the extensions taken
            return false;
        }
        // Renamed in its own folder, which under the walk of subfolders is not the camera folder itself.
        const std::string newPath = platform::JoinPath(platform::FolderOf(oldPath), item.newName);
        // A name may hold a backslash, which the member's name turns into "/": two pictures could then come
        // out under one member name, and a reader that extracts by name would show only one of them.
        std::string member = newPath;
        std::replace(member.begin(), member.end(), '\\', '/');
        if (memberNames.count(member) != 0) {
            item.reason =
                "the archive already holds a picture under the same name (a \"\\\" in a name becomes \"/\")";
            return false;
        }
        if (options.dryRun) {
            item.outcome = report.problem.empty() ? Outcome::Done : Outcome::Kept;
            item.reason = report.problem.empty() ? "" : "the destination folder does not exist";
            if (item.Done()) {
                memberNames.insert(member);
            }
            return item.Done();
        }
        if (!RenameAndPack(oldPath, newPath, archive, pool ? &*pool : nullptr, report.items.size() - 1,
                           item.reason, submitted)) {
            return false;
        }
        memberNames.insert(member);
        return true;
    };
    // Every picture's record is on the disk before it is renamed.
    const auto planBatch = [&](const std::vector<std::pair<std::string, const TransferItem*>>& files) {
        if (recorder) {
            for (const auto& [oldPath, item] : files) {
                recorder->Plan(oldPath, platform::JoinPath(platform::FolderOf(oldPath), item->newName));
            }
            recorder->Flush();
        }
        return !recorder || recorder->Problem().Ok();
    };
    RunPassLoop({camera, toFolder, option, inputs, settings, options}, PassKind::Archive, pack, report,
                planBatch);
    // With the camera folder as the destination, the listing met this pass's own archive: it is no file the
    // user left behind.
    const auto from = platform::InfoOfPath(camera);
    const auto archiveFolder = platform::InfoOfPath(toFolder);
    if (!archive.path.empty() && from && archiveFolder && from->IsSameFile(*archiveFolder) &&
        report.leftBehind[".zip"]-- <= 1) {
        report.leftBehind.erase(".zip");
    }

    if (pool) {
        pool->Finish();  // also when stopped: the pictures handed over are few, and are finished
        pool.reset();
        Finish(archive, toFolder, packed, *early, options.workers, report);
    }
    for (const TransferItem& item : report.items) {
        if (recorder) {
            recorder->Outcome(platform::JoinPath(camera, item.oldName), item.outcome == Outcome::Done);
        }
        if (options.onItem) {
            options.onItem(item);
        }
    }
    EndRecording(recorder, report);
    return report;
}

}  // namespace transfer
