// Moves many small files within one file system three ways, side by side in one run: a bare loop of rename
// calls, the move pass under Nothing, and the move pass under Number (which keeps the counter in the
// settings file after every file). Then a card of 2,000 pictures with Exif headers under Date of Photo, the
// day taken from the file's time and from the capture date recorded in each picture: moved off a card in
// another file system, as a user does, and, for comparison, within one file system, where a move is a
// rename and reading the metadata weighs most. Last, moves to another file system (from /dev/shm to FOLDER),
// the move pass against `mv` followed by one `sync -f` of the destination, which leaves the same on the
// disk: 2,000 files of 100 KiB and 70 photos of 3 to 9 MB. The small files are also moved with the import log
// written, and with --skip-imported on top (nothing already there, the worst case for it). Prints the times
// and their ratios.
//
//   move_bench [--files N] [--rounds R] [--dir FOLDER] [--card-files N] [--card CARD]
//
// FOLDER (default $TMPDIR or /tmp) is where the files are made; CARD (default /dev/shm) stands in for the
// card's file system. Everything made is removed again.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <exiv2/exiv2.hpp>

#include "platform/File.h"
#include "platform/Path.h"
#include "settings/SettingsFile.h"
#include "transfer/CounterKeeper.h"
#include "transfer/ImportLog.h"
#include "transfer/MovePass.h"

namespace {

struct Config {
    int files = 10000;
    int rounds = 3;
    int cardFiles = 2000;
    std::string dir;
    std::string card = "/dev/shm";
};

bool ParseArgs(int argc, char** argv, Config* config) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        if (arg == "--files") {
            config->files = std::atoi(argv[++i]);
        } else if (arg == "--rounds") {
            config->rounds = std::atoi(argv[++i]);
        } else if (arg == "--card-files") {
            config->cardFiles = std::atoi(argv[++i]);
        } else if (arg == "--card") {
            config->card = argv[++i];
        } else if (arg == "--dir") {
            config->dir = argv[++i];
        } else {
            return false;
        }
    }
    if (config->dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        config->dir = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    }
    return config->files > 0 && config->rounds > 0 && config->cardFiles > 0;
}

std::vector<std::string> NamesOf(int count) {
    std::vector<std::string> names;
    char name[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "IMG_%05d.JPG", i);
        names.emplace_back(name);
    }
    return names;
}

// A picture as a camera writes it, in miniature: an Exif segment with the usual tags, the capture date and a
// thumbnail, then 32 KiB of image data. Made at `path`, and read back.
std::string CameraPicture(const std::string& path) {
    std::string bytes("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);
    bytes += std::string("\xFF\xDB\x00\x03\x00", 5);  // Exiv2 puts the Exif segment before the first table
    bytes += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    for (uint32_t i = 0, x = 1; i < 32768; ++i) {
        bytes.push_back(static_cast<char>(((x = x * 1103515245u + 12345u) >> 24) & 0x7F));
    }
    bytes += "\xFF\xD9";
    if (!platform::ReplaceFileContents(path, bytes)) {
        std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), std::strerror(errno));
        std::exit(1);
    }
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    Exiv2::ExifData& exif = image->exifData();
    exif["Exif.Image.Make"] = "Canon";
    exif["Exif.Image.Model"] = "Canon EOS 90D";
    exif["Exif.Image.Orientation"] = uint16_t{1};
    exif["Exif.Image.DateTime"] = "2026:12:05 10:20:30";
    exif["Exif.Photo.DateTimeOriginal"] = "2026:12:05 10:20:30";
    exif["Exif.Photo.DateTimeDigitized"] = "2026:12:05 10:20:30";
    exif["Exif.Photo.ExposureTime"] = Exiv2::Rational(1, 250);
    exif["Exif.Photo.FNumber"] = Exiv2::Rational(56, 10);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t{200};
    exif["Exif.Photo.FocalLength"] = Exiv2::Rational(50, 1);
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte*>(bytes.data()), 8192);
    image->writeMetadata();
    std::string picture = platform::ReadWholeFile(path).value_or("");
    ::unlink(path.c_str());
    return picture;
}

void MakeFiles(const std::string& folder, const std::vector<std::string>& names,
               const std::string& contents = "a small picture") {
    ::mkdir(folder.c_str(), 0755);
    for (const std::string& name : names) {
        auto file = platform::File::CreateNew(platform::JoinPath(folder, name));
        const platform::Status made = file ? file->WriteAll(contents.data(), contents.size()) : file.Error();
        if (!made) {
            std::fprintf(stderr, "cannot make %s/%s: %s\n", folder.c_str(), name.c_str(),
                         made.Error().Describe().c_str());
            std::exit(1);
        }
    }
}

void RemoveFolder(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* d = ::readdir(dir)) {
            if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) {
                ::unlink(platform::JoinPath(folder, d->d_name).c_str());
            }
        }
        ::closedir(dir);
    }
    ::rmdir(folder.c_str());
}

// The folder's entries in directory order, without "." and "..".
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* d = ::readdir(dir)) {
            if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) {
                names.emplace_back(d->d_name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

using MoveAll = std::function<size_t(const std::string& from, const std::string& to,
                                     const std::vector<std::string>& listing)>;

// Times one way of moving the files of a fresh camera folder into a fresh destination folder. The folder
// is listed before the clock starts, so that the bare loop renames in the directory order the pass must
// follow (on a hashed directory, name order and directory order cost differently) without being charged
// for the listing that the pass makes itself.
double TimeOneRound(const std::string& base, const std::vector<std::string>& names, const MoveAll& move,
                    const std::string& contents = "a small picture", const std::string& fromBase = "") {
    const std::string from = (fromBase.empty() ? base : fromBase) + "/camera";
    const std::string to = base + "/computer";
    MakeFiles(from, names, contents);
    ::mkdir(to.c_str(), 0755);
    const std::vector<std::string> listing = Listing(from);
    ::sync();  // start each round with nothing pending from making the files
    const auto start = std::chrono::steady_clock::now();
    const size_t moved = move(from, to, listing);
    const auto stop = std::chrono::steady_clock::now();
    if (moved != names.size()) {
        std::fprintf(stderr, "only %zu of %zu files were moved\n", moved, names.size());
        std::exit(1);
    }
    RemoveFolder(from);
    RemoveFolder(to);
    return std::chrono::duration<double>(stop - start).count();
}

// Seconds per write of the counter alone, kept as the pass keeps it (in place after the first write; the
// end of the run, which waits for the disk, included).
double TimeKeptCounter(const SettingsFile& settings, int count) {
    transfer::PlainNamingInputs inputs;
    inputs.numberChecked = true;
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    transfer::CounterKeeper keeper(settings);
    for (int i = 0; i < count; ++i) {
        (void)keeper.Keep(inputs, i);
    }
    (void)keeper.Finish(inputs);
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(stop - start).count() / count;
}

// The same, each write replacing the whole file.
double TimeReplacedCounter(const SettingsFile& settings, int count) {
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        (void)settings.Write("counter", std::to_string(i));
    }
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(stop - start).count() / count;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Files of the given sizes in a new folder, with bytes that differ from file to file.
void MakeSizedFiles(const std::string& folder, const std::vector<size_t>& sizes) {
    ::mkdir(folder.c_str(), 0755);
    std::vector<char> bytes(*std::max_element(sizes.begin(), sizes.end()));
    for (size_t i = 0; i < sizes.size(); ++i) {
        for (size_t at = 0; at < sizes[i]; at += 4096) {
            bytes[at] = static_cast<char>(i + at);
        }
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05zu.JPG", i);
        auto file = platform::File::CreateNew(platform::JoinPath(folder, name));
        const platform::Status made = file ? file->WriteAll(bytes.data(), sizes[i]) : file.Error();
        if (!made) {
            std::fprintf(stderr, "cannot make %s/%s: %s\n", folder.c_str(), name,
                         made.Error().Describe().c_str());
            std::exit(1);
        }
    }
}

// The move pass against mv + sync -f, moving the same files from a memory file system to `disk`, in rounds
// that take turns. Returns the ratio of the medians.
double CrossFileSystem(const char* what, const std::vector<size_t>& sizes, const std::string& disk,
                       int rounds, const SettingsFile& settings) {
    std::string card = "/dev/shm/tovaro-move-bench-XXXXXX";
    if (::mkdtemp(card.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a folder in /dev/shm: %s\n", std::strerror(errno));
        std::exit(1);
    }
    const std::string from = card + "/camera", to = disk + "/computer";
    std::vector<double> pass, mv;
    for (int round = 0; round < 2 * rounds; ++round) {
        MakeSizedFiles(from, sizes);
        ::mkdir(to.c_str(), 0755);
        ::sync();
        const bool ours = round % 2 == 0;
        const double seconds = Seconds([&] {
            transfer::PlainNamingInputs inputs;
            const bool moved =
                ours ? transfer::MovePass(from, to, transfer::kNameNothing, inputs, settings).Done() ==
                           sizes.size()
                     : std::system(("mv -t '" + to + "' '" + from + "'/* && sync -f '" + to + "'").c_str()) ==
                           0;
            if (!moved) {
                std::fprintf(stderr, "%s: not every file was moved\n", what);
                std::exit(1);
            }
        });
        (ours ? pass : mv).push_back(seconds);
        RemoveFolder(from);
        RemoveFolder(to);
    }
    ::rmdir(card.c_str());
    const double p = Median(pass), m = Median(mv);
    std::printf("  %-24s move pass %8.1f ms, mv + sync -f %8.1f ms: %.2fx (target at most 1.10x)\n", what,
                p * 1e3, m * 1e3, p / m);
    return p / m;
}

}  // namespace

int main(int argc, char** argv) {
    Config config;
    if (!ParseArgs(argc, argv, &config)) {
        std::fprintf(
            stderr,
            "usage: move_bench [--files N] [--rounds R] [--dir FOLDER] [--card-files N] [--card CARD]\n");
        return 2;
    }
    std::string base = config.dir + "/tovaro-move-bench-XXXXXX";
    if (::mkdtemp(base.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a folder in %s: %s\n", config.dir.c_str(), std::strerror(errno));
        return 1;
    }
    const std::vector<std::string> names = NamesOf(config.files);
    const SettingsFile settings(base + "/tovaro.ini");

    const MoveAll bareLoop = [](const std::string& from, const std::string& to,
                                const std::vector<std::string>& listing) {
        size_t moved = 0;
        for (const std::string& name : listing) {
            moved +=
                ::rename(platform::JoinPath(from, name).c_str(), platform::JoinPath(to, name).c_str()) == 0;
        }
        return moved;
    };
    auto log = transfer::ImportLog::Open(base + "/state");
    if (!log) {
        std::fprintf(stderr, "%s\n", transfer::LogProblem(log.Error()).c_str());
        return 1;
    }
    const auto movePass = [&](transfer::NameOption option,
                              transfer::DateSource source = transfer::DateSource::FileTime,
                              bool logged = false, bool skip = false) -> MoveAll {
        return [&, option, source, logged, skip](const std::string& from, const std::string& to,
                                                 const std::vector<std::string>&) {
            transfer::PlainNamingInputs inputs;
            inputs.numberText = "1";
            inputs.numberChecked = option == transfer::kNameNumber;
            transfer::PassOptions options;
            options.dateSource = source;
            options.log = logged ? &*log : nullptr;
            options.skipImported = skip;
            return transfer::MovePass(from, to, option, inputs, settings, options).Done();
        };
    };

    std::vector<double> bare, nothing, number, logged, skipping, fileTime, capture, cardFileTime, cardCapture;
    for (int round = 0; round < config.rounds; ++round) {
        bare.push_back(TimeOneRound(base, names, bareLoop));
        nothing.push_back(TimeOneRound(base, names, movePass(transfer::kNameNothing)));
        number.push_back(TimeOneRound(base, names, movePass(transfer::kNameNumber)));
        logged.push_back(TimeOneRound(
            base, names, movePass(transfer::kNameNothing, transfer::DateSource::FileTime, true)));
        skipping.push_back(TimeOneRound(
            base, names, movePass(transfer::kNameNothing, transfer::DateSource::FileTime, true, true)));
    }
    log = platform::Failure{};  // closed
    ::unlink((base + "/state/imports.log").c_str());
    ::rmdir((base + "/state").c_str());
    const std::vector<std::string> card = NamesOf(config.cardFiles);
    const std::string picture = CameraPicture(base + "/picture.jpg");
    std::string cardBase = config.card + "/tovaro-card-XXXXXX";
    if (::mkdtemp(cardBase.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a folder in %s: %s\n", config.card.c_str(), std::strerror(errno));
        return 1;
    }
    const MoveAll byFileTime = movePass(transfer::kNameDate);
    const MoveAll byCapture = movePass(transfer::kNameDate, transfer::DateSource::Capture);
    for (int round = 0; round < config.rounds; ++round) {
        cardFileTime.push_back(TimeOneRound(base, card, byFileTime, picture, cardBase));
        cardCapture.push_back(TimeOneRound(base, card, byCapture, picture, cardBase));
        fileTime.push_back(TimeOneRound(base, card, byFileTime, picture));
        capture.push_back(TimeOneRound(base, card, byCapture, picture));
    }
    ::rmdir(cardBase.c_str());
    const int writes = std::max(config.files / 10, 1);
    const double kept = TimeKeptCounter(settings, writes);
    const double replaced = TimeReplacedCounter(settings, writes);
    ::unlink(settings.Path().c_str());

    const double b = Median(bare), n = Median(nothing), m = Median(number);
    const double perFile = 1e6 / config.files;
    std::printf("%d files in %s, median of %d rounds\n", config.files, config.dir.c_str(), config.rounds);
    std::printf("  bare rename loop   %8.1f ms  %6.1f us/file\n", b * 1e3, b * perFile);
    std::printf("  move pass, Nothing %8.1f ms  %6.1f us/file\n", n * 1e3, n * perFile);
    std::printf("  move pass, Number  %8.1f ms  %6.1f us/file\n", m * 1e3, m * perFile);
    std::printf("  counter write alone, as the pass keeps it %6.1f us; replacing the whole file %6.1f us\n",
                kept * 1e6, replaced * 1e6);
    std::printf("Nothing / bare loop: %.2fx (target at most 1.3x)\n", n / b);
    std::printf("Number / Nothing:    %.2fx (target at most 3x)\n", m / n);
    const double l = Median(logged), k = Median(skipping);
    std::printf("  move pass, Nothing, logged                %8.1f ms  %6.1f us/file\n", l * 1e3,
                l * perFile);
    std::printf("  move pass, Nothing, logged, skip-imported %8.1f ms  %6.1f us/file\n", k * 1e3,
                k * perFile);
    std::printf("logged / Nothing:    %.2fx\n", l / n);
    std::printf("skip-imported / logged, nothing already there: %.2fx (target at most 1.2x)\n", k / l);
    const double cf = Median(cardFileTime), cc = Median(cardCapture);
    const double f = Median(fileTime), c = Median(capture);
    const double perPicture = 1e6 / config.cardFiles;
    std::printf("%d pictures of %zu bytes with Exif, Date of Photo, median of %d rounds\n", config.cardFiles,
                picture.size(), config.rounds);
    std::printf("  off a card in %s, day from the file's time   %8.1f ms  %6.1f us/file\n",
                config.card.c_str(), cf * 1e3, cf * perPicture);
    std::printf("  off a card in %s, day from the capture date  %8.1f ms  %6.1f us/file\n",
                config.card.c_str(), cc * 1e3, cc * perPicture);
    std::printf("  within one file system, day from the file's time   %8.1f ms  %6.1f us/file\n", f * 1e3,
                f * perPicture);
    std::printf("  within one file system, day from the capture date  %8.1f ms  %6.1f us/file\n", c * 1e3,
                c * perPicture);
    std::printf("capture / file time, off a card:            %.2fx (target at most 1.5x)\n", cc / cf);
    std::printf("capture / file time, within one file system: %.2fx (renames only: the worst case)\n", c / f);

    struct stat shm {
    }, disk{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(config.dir.c_str(), &disk) != 0 ||
        shm.st_dev == disk.st_dev) {
        std::printf("no second file system (/dev/shm) to move to %s from: no cross-file-system case\n",
                    config.dir.c_str());
        ::rmdir(base.c_str());
        return 0;
    }
    std::printf("To another file system (/dev/shm to %s), median of %d rounds each:\n", config.dir.c_str(),
                config.rounds);
    const std::vector<size_t> small(2000, 100 << 10);
    std::vector<size_t> photos;
    for (size_t i = 0; i < 70; ++i) {
        photos.push_back((3u << 20) + (i * 7919 % 70) * (6u << 20) / 70);  // 3 to 9 MB, in no order
    }
    CrossFileSystem("2000 files of 100 KiB", small, base, config.rounds, settings);
    CrossFileSystem("70 photos of 3-9 MB", photos, base, config.rounds, settings);
    ::rmdir(base.c_str());
    return 0;
}
