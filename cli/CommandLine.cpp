#include "cli/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "platform/Path.h"
#include "transfer/DatedFolders.h"

namespace cli {
namespace {

// How many values follow an option. OptionalInline: none, or one given as --name=VALUE.
enum class Values { None, One, Two, OptionalInline };

// What the parser has gathered so far.
struct Parsing {
    CliOptions options;
    bool namingChosen = false;  // apart from nameOption, as Nothing is both the default and an option
};

// Applies an option with its values; returns a usage error, or "".
using Apply = std::string (*)(Parsing&, std::span<const std::string> values);

struct OptionSpec {
    std::string_view name;
    Values values;
    std::string_view valueNames;  // for the help text
    std::string_view help;
    Apply apply;
    std::string_view shortName = {};  // "-h": the same option in one letter
};

std::string SetNaming(Parsing& p, transfer::NameOption option) {
    if (p.namingChosen) {
        return "choose only one of --nothing, --text, --date, --number and --rename";
    }
    p.namingChosen = true;
    p.options.nameOption = option;
    return {};
}

// "~/..." is the home folder's, as in the shell, which leaves it alone in --to=~/...; a lone "~" stays a
// folder of that name.
std::string SetFolder(std::string& folder, std::string_view option, const std::string& value) {
    if (value.empty()) {
        return "the folder after " + std::string(option) + " is empty";
    }
    folder = platform::ExpandHome(value);
    return {};
}

std::string SetExtensions(std::optional<std::vector<std::string>>& into, std::string_view option,
                          const std::string& value) {
    transfer::ExtensionList list = transfer::ParseExtensionList(value);
    if (!list.error.empty() || list.extensions.empty()) {
        return std::string(option) + ": " + (list.error.empty() ? "the list is empty" : list.error);
    }
    into = std::move(list.extensions);
    return {};
}

// To add an option, add a field to CliOptions and a row here; the parser and the help text follow the table.
// The help starts at column 26: at most 54 characters a line keeps it within 80 columns.
const std::array kOptions =
    {
        OptionSpec{"--from", Values::One, "DIR", "the camera folder",
                   [](Parsing& p, std::span<const std::string> v) {
                       return SetFolder(p.options.fromDir, "--from", v[0]);
                   }},
        OptionSpec{"--to", Values::One, "DIR", "the folder the files go to",
                   [](Parsing& p, std::span<const std::string> v) {
                       return SetFolder(p.options.toDir, "--to", v[0]);
                   }},
        OptionSpec{
            "--nothing", Values::None, "",
            "keep the name (the default); the extension becomes\n"
            "lower-case",
            [](Parsing& p, std::span<const std::string>) { return SetNaming(p, transfer::kNameNothing); }},
        OptionSpec{"--text", Values::One, "TEXT", "append \" -TEXT\" to the name (\"/\" and \"\\\" left out)",
                   [](Parsing& p, std::span<const std::string> v) {
                       p.options.text = v[0];
                       return SetNaming(p, transfer::kNameText);
                   }},
        OptionSpec{
            "--date", Values::None, "", "append \" -MMDDYY\", the day the file was made",
            [](Parsing& p, std::span<const std::string>) { return SetNaming(p, transfer::kNameDate); }},
        OptionSpec{
            "--number", Values::OptionalInline, "[=N]",
            "append \" -N\", a running number that starts at the\n"
            "saved counter, or at N; the counter then holds the\n"
            "next number",
            [](Parsing& p, std::span<const std::string> v) {
                if (!v.empty()) {
                    p.options.startNumber = transfer::ParseDialogInt(v[0]);
                    if (!p.options.startNumber) {
                        return "--number=N needs a whole number from -2147483648 to 2147483647, not \"" +
                               v[0] + "\"";
                    }
                }
                return SetNaming(p, transfer::kNameNumber);
            }},
        OptionSpec{"--rename", Values::Two, "FIND NEW", "replace every FIND in the name by NEW",
                   [](Parsing& p, std::span<const std::string> v) {
                       p.options.renameFind = v[0];
                       p.options.renameNew = v[1];
                       return SetNaming(p, transfer::kNameRename);
                   }},
        OptionSpec{"--zip", Values::None, "",
                   "rename the pictures in the camera folder, pack them\n"
                   "into ArchivePics.zip in the destination folder and\n"
                   "remove them from the camera folder once the archive\n"
                   "is written and checked (videos and other files stay)",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.zip = true;
                       return std::string();
                   }},
        OptionSpec{"--dry-run", Values::None, "",
                   "show the new names and what the transfer would do;\nchange no file and no setting",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.dryRun = true;
                       return std::string();
                   }},
        OptionSpec{"--quiet", Values::None, "", "print only the files that were not moved (archived)",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.quiet = true;
                       return std::string();
                   }},
        OptionSpec{"--settings", Values::One, "FILE",
                   "keep the running number in FILE instead of the usual\n"
                   "settings file (see Settings below)",
                   [](Parsing& p, std::span<const std::string> v) {
                       if (v[0].empty()) {
                           return std::string("the file after --settings is empty");
                       }
                       p.options.settingsPath = v[0];
                       return std::string();
                   }},
        OptionSpec{"--move-extensions", Values::One, "LIST",
                   "the extensions moved, such as \".jpg .cr2 .xmp .mp4\"\n"
                   "(default: moveextensions= of the settings file,\n"
                   "else .bmp .gif .jpeg .jpg .avi .mpg .mpeg .wmv)",
                   [](Parsing& p, std::span<const std::string> v) {
                       return SetExtensions(p.options.moveExtensions, "--move-extensions", v[0]);
                   }},
        OptionSpec{"--zip-extensions", Values::One, "LIST",
                   "the extensions archived with --zip (default:\n"
                   "zipextensions=, else .bmp .gif .jpeg .jpg)",
                   [](Parsing& p, std::span<const std::string> v) {
                       return SetExtensions(p.options.zipExtensions, "--zip-extensions", v[0]);
                   }},
        OptionSpec{"--recursive", Values::None, "",
                   "take the files of the camera folder's subfolders too\n"
                   "(a card's DCIM/100CANON, 101CANON, ...), all into\n"
                   "the one destination folder or --folders' dated\n"
                   "folders (as recurse=1 in the settings)",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.recursive = true;
                       return std::string();
                   }},
        OptionSpec{"--skip-imported", Values::None, "",
                   "leave a file whose very content is already in the\n"
                   "destination (compared byte for byte) in the camera\n"
                   "folder instead of moving it again (skipimported=1)",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.skipImported = true;
                       return std::string();
                   }},
        OptionSpec{"--date-from", Values::One, "capture|file",
                   "where --date takes the day from: when the picture was\n"
                   "taken, as the camera recorded it in the file\n"
                   "(capture), or the file's own day (file; default:\n"
                   "datesource=, else file)",
                   [](Parsing& p, std::span<const std::string> v) {
                       if (v[0] != "capture" && v[0] != "file") {
                           return "--date-from takes capture or file, not \"" + v[0] + "\"";
                       }
                       p.options.dateSource =
                           v[0] == "capture" ? transfer::DateSource::Capture : transfer::DateSource::FileTime;
                       return std::string();
                   }},
        OptionSpec{"--compression", Values::One, "fast|standard",
                   "how --zip compresses: standard is zlib's level 8 (the\n"
                   "default: compression=, else standard); fast is several\n"
                   "times faster and, on photos, as small within a hair\n"
                   "(a little larger on compressible pictures such as BMP)",
                   [](Parsing& p, std::span<const std::string> v) {
                       if (v[0] != "fast" && v[0] != "standard") {
                           return "--compression takes fast or standard, not \"" + v[0] + "\"";
                       }
                       p.options.compression =
                           v[0] == "fast" ? transfer::Compression::Fast : transfer::Compression::Standard;
                       return std::string();
                   }},
        OptionSpec{"--folders", Values::One, "PATTERN",
                   "put each moved file into the folder PATTERN gives for\n"
                   "its date, below the destination: %Y %y %m %d %H %M %S\n"
                   "and text, \"/\" between folders, such as %Y/%Y-%m-%d\n"
                   "(default: folders= of the settings file, else none)",
                   [](Parsing& p, std::span<const std::string> v) {
                       if (const std::string why = transfer::FolderPatternRefusal(v[0]); !why.empty()) {
                           return "--folders: " + why;
                       }
                       p.options.folders = v[0];
                       return std::string();
                   }},
        OptionSpec{"--eject", Values::None, "",
                   "after a transfer that went well, unmount the camera\n"
                   "folder's card so that it can be removed (as eject=1\n"
                   "in the settings)",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.eject = true;
                       return std::string();
                   }},
        OptionSpec{"--log", Values::None, "",
                   "show the last transfers from the import log, and the\n"
                   "files of the latest (see Import log below)",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.log = true;
                       return std::string();
                   }},
        OptionSpec{"--undo", Values::None, "",
                   "put the files of the latest transfer not yet undone\n"
                   "back under their old names, never overwriting",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.undo = true;
                       return std::string();
                   }},
        OptionSpec{"--help", Values::None, "", "show this help",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.help = true;
                       return std::string();
                   },
                   "-h"},
        OptionSpec{"--version", Values::None, "", "show the version",
                   [](Parsing& p, std::span<const std::string>) {
                       p.options.version = true;
                       return std::string();
                   },
                   "-V"},
};

const OptionSpec* FindOption(std::string_view name) {
    for (const OptionSpec& spec : kOptions) {
        if (spec.name == name || spec.shortName == name) {
            return &spec;
        }
    }
    return nullptr;
}

size_t CountOf(Values values) {
    switch (values) {
        case Values::One:
            return 1;
        case Values::Two:
            return 2;
        default:
            return 0;
    }
}

}  // namespace

ParseResult ParseCommandLine(std::span<const std::string> args) {
    ParseResult result;
    Parsing parsing;
    // A script that says --settings a ... --settings b means one of them, and we can't tell which: refuse
    // every option with a value that comes twice rather than let the last one silently win.
    std::vector<const OptionSpec*> valued;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        if (name == "--") {
            // The end of the options; what follows would be operands, and there are none to give.
            if (i + 1 < args.size()) {
                result.error = "unexpected argument \"" + args[i + 1] + "\"";
                return result;
            }
            break;
        }
        std::vector<std::string> values;
        const size_t equals = name.starts_with("--") ? name.find('=') : std::string_view::npos;
        if (equals != std::string_view::npos) {
            values.emplace_back(name.substr(equals + 1));
            name = name.substr(0, equals);
        }
        const OptionSpec* spec = FindOption(name);
        if (spec == nullptr) {
            result.error = name.starts_with("-") ? "unknown option " + std::string(name)
                                                 : "unexpected argument \"" + args[i] + "\"";
            return result;
        }
        const size_t wanted = CountOf(spec->values);
        if (!values.empty() && spec->values != Values::OptionalInline && wanted != 1) {
            result.error = std::string(name) + " takes no \"=\" value";
            return result;
        }
        if (wanted > 0) {
            if (std::ranges::find(valued, spec) != valued.end()) {
                result.error = std::string(spec->name) + " is given twice";
                return result;
            }
            valued.push_back(spec);
        }
        if (values.empty() && wanted > 0) {
            if (args.size() - i - 1 < wanted) {
                result.error = std::string(name) + " needs " + std::string(spec->valueNames);
                return result;
            }
            values.assign(args.begin() + static_cast<std::ptrdiff_t>(i + 1),
                          args.begin() + static_cast<std::ptrdiff_t>(i + 1 + wanted));
            i += wanted;
        }
        result.error = spec->apply(parsing, values);
        if (!result.error.empty()) {
            return result;
        }
    }
    result.options = std::move(parsing.options);
    const bool history = result.options.log || result.options.undo;
    if (history && (result.options.log == result.options.undo || !result.options.fromDir.empty() ||
                    !result.options.toDir.empty())) {
        result.error = "--log and --undo go alone";
    } else if (!result.options.help && !result.options.version && !history &&
               (result.options.fromDir.empty() || result.options.toDir.empty())) {
        result.error = "both --from DIR and --to DIR are needed";
    }
    return result;
}

std::string HelpText() {
    std::string text =
        "Usage: tovaro-cli --from DIR --to DIR [--nothing | --text TEXT | --date |\n"
        "                  --number[=N] | --rename FIND NEW] [--zip] [--dry-run]\n"
        "                  [--quiet] [--settings FILE] [--move-extensions LIST]\n"
        "                  [--zip-extensions LIST] [--recursive]\n"
        "                  [--date-from capture|file] [--compression fast|standard]\n"
        "                  [--skip-imported] [--folders PATTERN] [--eject]\n"
        "       tovaro-cli --log | --undo | --help | --version\n"
        "\n"
        "Moves every picture and video of the camera folder (.bmp .gif .jpeg .jpg .avi\n"
        ".mpg .mpeg .wmv) into the destination folder under its new name. A file already\n"
        "there is never replaced. With --zip, the pictures (not the videos) go into\n"
        "ArchivePics.zip instead; an earlier ArchivePics.zip is first renamed to\n"
        "ArchivePics-1.zip (or -2, ...), never overwritten.\n"
        "\n";
    constexpr size_t kColumn = 26;
    for (const OptionSpec& spec : kOptions) {
        std::string left = spec.shortName.empty() ? "      " : "  " + std::string(spec.shortName) + ", ";
        left += spec.name;
        if (!spec.valueNames.empty()) {
            left += spec.values == Values::OptionalInline ? "" : " ";
            left += spec.valueNames;
        }
        // An option too long for its column has its help on the lines below it.
        if (left.size() >= kColumn) {
            text += left + "\n";
            left.clear();
        }
        left.resize(kColumn, ' ');
        std::string_view help = spec.help;
        for (size_t newline = help.find('\n'); newline != std::string_view::npos; newline = help.find('\n')) {
            text += left + std::string(help.substr(0, newline)) + "\n";
            left.assign(kColumn, ' ');
            help.remove_prefix(newline + 1);
        }
        text += left + std::string(help) + "\n";
    }
    text +=
        "\n"
        "Settings: the running number (and the window's saved folders) are kept in\n"
        "tovaro.ini beside this program when it is there and you may write it, or when\n"
        "it is not there and you may write in the program's folder (not one of root's);\n"
        "otherwise in $XDG_CONFIG_HOME/tovaro/tovaro.ini (by default\n"
        "~/.config/tovaro/tovaro.ini), which starts as a copy of the one beside the\n"
        "program.\n"
        "\n"
        "Import log: every transfer records what it does to each file in\n"
        "$XDG_STATE_HOME/tovaro/imports.log (by default ~/.local/state/tovaro/), so that\n"
        "--undo can put the files back. Undo never replaces a file: one whose old name\n"
        "is taken again, or that changed since, stays where it is. An archived picture\n"
        "is written back from the archive, which is kept. The running number is not\n"
        "wound back.\n"
        "\n"
        "Exit status: 0 when every file taken was moved (archived) or is already there,\n"
        "or with --undo went back (files not taken, such as other kinds, may still be in\n"
        "the camera folder: 0\n"
        "does not mean it is empty); 1 when any stayed, a folder or entry could not be\n"
        "read, the running number could not be kept, the import log could not be\n"
        "written or the report could not be written; 2 for a usage error;\n"
        "130 when stopped by Ctrl-C, and 128 + N for another signal N that stops it\n"
        "(143 for SIGTERM, 129 for SIGHUP).\n";
    return text;
}

std::string VersionText() {
    return "tovaro-cli (Tovaro) " TOVARO_VERSION
           "\n"
           "Copyright (c) The Tovaro developers.\n"
           "Free software under the MIT (Expat) licence: you may use, copy, change and share it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

}  // namespace cli
