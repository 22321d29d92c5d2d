#include "transfer/ArchivePass.h"

#include <fcntl.h>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "platform/File.h"
#include "platform/Folder.h"
#include "platform/Move.h"
#include "platform/Path.h"
#include "platform/Sys.h"
#include "settings/SettingsFile.h"
#include "transfer/CounterKeeper.h"
#include "transfer/PassSteps.h"
#include "zip/ZipReader.h"
#include "zip/ZipWriter.h"

namespace transfer {
namespace {

// A picture whose member the writer accepted; it leaves the camera folder only once the member has been read
// back from the disk and found whole.
struct Packed {
    size_t item;                // index into the report
    std::string path;           // the picture under its new name
    zip::ZipEntry recorded;     // what the writer recorded for it
    platform::FileInfo before;  // the picture as it was when it was packed
};

// Keeps an archive that an earlier pass left in the destination folder: its pictures are gone from the
// camera folder, so creating the new archive over it would lose them. It is renamed, never replacing
// anything, to the first free name of ArchivePics-1.zip, ArchivePics-2.zip, ... Returns "" when there was
// nothing to keep or it was kept (its new name in *keptAs), else why it could not be kept.
std::string KeepEarlierArchive(const std::string& toDir, const std::string& archivePath,
                               std::string* keptAs) {
    if (!platform::InfoOfPath(archivePath, /*followLinks=*/false)) {
        return errno == ENOENT || errno == ENOTDIR ? "" : platform::DescribeError(errno);
    }
    for (int n = 1; n > 0; ++n) {
        const std::string candidate = platform::JoinPath(toDir, "ArchivePics-" + std::to_string(n) + ".zip");
        const int error = platform::MoveNoReplace(archivePath, candidate);
        if (error == 0) {
            *keptAs = candidate;
            return "";
        }
        if (error != EEXIST) {
            return platform::DescribeError(error);
        }
    }
    return "no free name was left to keep it under";
}

std::string WhyNotAdded(zip::ZipStatus status) {
    switch (status) {
        case zip::ZipStatus::CannotOpenFile:
            return "it could not be opened for reading";
        case zip::ZipStatus::TooLarge:
            return "it is too large for a ZIP archive";
        case zip::ZipStatus::WriteFailed:
            return "it could not be read whole, or the archive could not be written (is the disk full?)";
        default:
            return std::string("the archive could not be written (") + zip::ZipStatusName(status) + ")";
    }
}

// Flushes the closed archive (and its name in the destination folder) to the disk and opens it for the check
// so that the check reads what the disk holds: past the page cache where the file system allows that, else
// after dropping the file's cached pages. "" when that worked, else why not.
std::string FlushArchive(const std::string& archivePath, const std::string& toDir,
                         std::unique_ptr<zip::ByteSource>* source) {
    platform::File file = platform::File::OpenForReading(archivePath);
    if (!file.IsOpen()) {
        return "the archive could not be opened again to check it: " + platform::DescribeError(errno);
    }
    if (!file.Sync() || !platform::SyncPath(toDir)) {
        return "the archive could not be flushed to the disk: " + platform::DescribeError(errno);
    }
    if (auto direct = zip::DirectFileByteSource::Open(archivePath)) {
        *source = std::make_unique<zip::DirectFileByteSource>(std::move(*direct));
        return "";
    }
    if (errno != EINVAL) {
        return "the archive could not be read back: " + platform::DescribeError(errno);
    }
    if (!file.DropCache()) {
        return "the archive could not be read back from the disk: " + platform::DescribeError(errno);
    }
    auto cached = zip::FileByteSource::FromFile(std::move(file));
    if (!cached) {
        return "the archive could not be read back: " + platform::DescribeError(errno);
    }
    *source = std::make_unique<zip::FileByteSource>(std::move(*cached));
    return "";
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

bool Unchanged(const platform::FileInfo& before, const std::string& path) {
    const auto now = platform::InfoOfPath(path, /*followLinks=*/false);
    return now && now->device == before.device && now->inode == before.inode && now->size == before.size &&
           now->modified.tv_sec == before.modified.tv_sec && now->modified.tv_nsec == before.modified.tv_nsec;
}

// Checks every packed member against the archive on the disk and removes each picture whose copy is whole.
void CheckAndRemove(const std::string& archivePath, const std::string& toDir, std::vector<Packed>& packed,
                    TransferReport& report) {
    std::unique_ptr<zip::ByteSource> source;
    std::string problem = FlushArchive(archivePath, toDir, &source);
    std::optional<zip::ZipReader> reader;
    if (problem.empty()) {
        reader.emplace(*source);
        if (const zip::ReadResult opened = reader->Open(); !opened.Ok()) {
            problem = "the archive could not be read back: " + opened.reason;
        }
    }
    for (const Packed& p : packed) {
        TransferItem& item = report.items[p.item];
        if (!problem.empty()) {
            item.reason = problem;
            continue;
        }
        const size_t index = FindMember(*reader, p.recorded);
        if (index == zip::ZipReader::kNotFound) {
            item.reason = "its copy is missing from the archive";
            continue;
        }
        const zip::ReadResult checked = reader->Verify(index, p.recorded.crc32, p.recorded.uncompressedSize);
        if (!checked.Ok()) {
            item.reason = "its copy in the archive is not whole: " + checked.reason;
        } else if (!Unchanged(p.before, p.path)) {
            item.reason = "it changed after it was packed, so it was kept";
        } else if (platform::Sys().unlink(p.path.c_str()) != 0) {
            item.reason = "it is in the archive, but could not be removed: " + platform::DescribeError(errno);
        } else {
            item.outcome = Outcome::Done;
            item.reason.clear();
        }
    }
}

}  // namespace

TransferReport ArchivePass(const std::string& fromDir, const std::string& toDir, NameOption option,
                           NamingInputs& inputs, const SettingsFile& settings, const PassOptions& options) {
    const std::string toFolder = toDir;
    const std::string archivePath = platform::JoinPath(toFolder, kArchiveName);
    TransferReport report;

    // The archive is made before the first entry is looked at, so it is there (without members) even when no
    // picture is taken, and the listing that follows sees it -- as a .zip it is never taken.
    zip::ZipWriter writer;
    std::string noArchive;
    if (!options.dryRun) {
        std::string keptAs;
        if (const std::string why = KeepEarlierArchive(toFolder, archivePath, &keptAs); !why.empty()) {
            noArchive = "the earlier " + std::string(kArchiveName) + " could not be kept (" + why +
                        "), so no new archive was made";
        } else {
            if (!keptAs.empty()) {
                report.notice = "The earlier " + std::string(kArchiveName) + " was kept as " + keptAs + ".";
            }
            writer = zip::ZipWriter::Create(archivePath);
            if (!writer.IsOpen()) {
                noArchive = "the archive " + archivePath + " could not be created";
            }
        }
    }

    int32_t number = 0;
    CounterKeeper counter(settings);
    std::vector<Packed> packed;
    for (const platform::FolderEntry& entry : platform::ListFolder(fromDir)) {
        if (entry.isDots || entry.isDirectory) {
            continue;  // folders are never renamed or archived, whatever their name
        }
        const std::string extension = SelectionExtension(entry.name);
        if (!IsAccepted(extension, ArchiveExtensions())) {
            continue;
        }
        const std::string oldPath = platform::JoinPath(fromDir, entry.name);
        const time_t created = option == kNameDate ? CreationTimeOf(oldPath) : 0;
        TransferItem item;
        item.oldName = entry.name;
        item.newName = ComposeNewName(FileTitle(entry.name), extension, option, created, inputs, number);
        item.reason = UnsafeNameReason(item.newName);
        const std::string newPath = platform::JoinPath(fromDir, item.newName);

        if (!item.reason.empty()) {
            // Never used as a file name.
        } else if (options.dryRun) {
            item.outcome = IsTakenByAnotherFile(newPath, oldPath) ? Outcome::Kept : Outcome::Done;
            if (!item.Done()) {
                item.reason = "another file in the camera folder already has that name";
            }
        } else if (const int error =
                       item.newName == entry.name ? 0 : platform::MoveNoReplace(oldPath, newPath);
                   error != 0) {
            // Another file already having the new name is skipped: archiving the file that has the name
            // would pack (and remove) the wrong picture.
            item.reason = error == EEXIST ? "another file in the camera folder already has that name"
                                          : "it could not be renamed: " + platform::DescribeError(error);
        } else if (!writer.IsOpen()) {
            item.reason = noArchive;
        } else {
            Packed p{report.items.size(), newPath, {}, {}};
            const auto before = platform::InfoOfPath(newPath, /*followLinks=*/false);
            const zip::ZipStatus status = writer.AddFile(newPath, newPath, &p.recorded);
            if (status != zip::ZipStatus::Ok) {
                item.reason = "not archived: " + WhyNotAdded(status);
            } else if (!before) {
                item.reason = "it could not be examined, so it was kept";
            } else {
                p.before = *before;
                packed.push_back(std::move(p));
                item.reason = "not yet checked";  // replaced once the archive has been read back
            }
        }
        // Every taken picture uses up its number, archived or not.
        if (!options.dryRun && !counter.Keep(inputs, number) && report.counterError.empty()) {
            report.counterError = CounterError(settings);
        }
        report.items.push_back(std::move(item));
        if (options.onProgress) {
            options.onProgress(report.items.size(), 0);
        }
    }

    if (writer.IsOpen()) {
        if (const zip::ZipStatus closed = writer.Close(); closed != zip::ZipStatus::Ok) {
            for (const Packed& p : packed) {
                report.items[p.item].reason =
                    std::string("the archive could not be completed (") + zip::ZipStatusName(closed) + ")";
            }
        } else if (!packed.empty()) {
            CheckAndRemove(archivePath, toFolder, packed, report);
        }
    }
    if (!options.dryRun && !counter.Finish(inputs) && report.counterError.empty()) {
        report.counterError = CounterError(settings);
    }
    if (options.onItem) {
        for (const TransferItem& item : report.items) {
            options.onItem(item);
        }
    }
    return report;
}

}  // namespace transfer
