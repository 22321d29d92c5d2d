// Which files a pass takes, and the new name each one gets.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace transfer {

// The naming choice: the index of the checked radio button of the window's "Append To File Name:" group.
using NameOption = int32_t;
inline constexpr NameOption kNameNothing = 0;
inline constexpr NameOption kNameText = 1;
inline constexpr NameOption kNameDate = 2;
inline constexpr NameOption kNameNumber = 3;
inline constexpr NameOption kNameRename = 4;

// What the naming rules read from (and write to) the user's form for every taken file. The window implements
// it over its controls; the command line and the tests over plain values.
class NamingInputs {
  public:
    virtual ~NamingInputs() = default;
    virtual std::string Text() const = 0;                     // IDC_TEXT
    virtual std::string NumberText() const = 0;               // IDC_NUMBER, as shown
    virtual void SetNumberText(const std::string& text) = 0;  // IDC_NUMBER
    virtual std::string RenameFind() const = 0;               // IDC_RENAME_FIND
    virtual std::string RenameNew() const = 0;                // IDC_RENAME_NEW
    virtual bool IsNumberChecked() const = 0;                 // check state of IDC_APPEND_NUMBER
};

// NamingInputs over plain values.
struct PlainNamingInputs : NamingInputs {
    std::string text, numberText, renameFind, renameNew;
    bool numberChecked = false;

    std::string Text() const override { return text; }
    std::string NumberText() const override { return numberText; }
    void SetNumberText(const std::string& value) override { numberText = value; }
    std::string RenameFind() const override { return renameFind; }
    std::string RenameNew() const override { return renameNew; }
    bool IsNumberChecked() const override { return numberChecked; }
};

// The extensions each pass takes, each with its leading ".", compared with SelectionExtension exactly.
std::span<const std::string_view> MoveExtensions();     // pictures and videos
std::span<const std::string_view> ArchiveExtensions();  // pictures only

// The kinds of RAW picture a camera writes (.cr2, .nef, .dng, ...), and the sidecar an editor keeps beside
// a picture (.xmp). They matter only for the lists a user chooses: neither default list holds them.
std::span<const std::string_view> RawExtensions();
inline constexpr std::string_view kSidecarExtension = ".xmp";

// Whether files of this kind (a lower-cased extension with its ".") are what cameras write: pictures, RAW
// pictures, videos. A user about to clear a card must know of any left on it.
bool IsCameraKind(std::string_view extension);
bool IsVideoKind(std::string_view extension);

// The kinds that today's cameras write besides those of the default lists: pictures (.heic, .png, the RAW
// kinds and the .xmp sidecar) and videos (.mp4, .mov, .mts). A video never goes into the archive.
std::span<const std::string_view> TodaysPictureExtensions();
std::span<const std::string_view> TodaysVideoExtensions();

// An extension list as a user writes it (".bmp .gif .JPEG .jpg"): entries separated by blanks or commas,
// each with its leading ".", any letter case; the entries come out lower-cased, to compare with
// SelectionExtension. An entry without its leading ".", one that is only ".", or one with a "/" in it is
// refused: `error` says which, and `extensions` is then empty. An empty text gives an empty list.
struct ExtensionList {
    std::vector<std::string> extensions;
    std::string error;
};
ExtensionList ParseExtensionList(std::string_view text);

// The lower-cased text from the name's first "." to its end; the whole name, lower-cased, when it has none.
// Cutting at the first "." means a name with two dots (IMG.0001.JPG) is never taken.
std::string SelectionExtension(std::string_view name);

// Whether `extension` (from SelectionExtension) is one of `accepted`.
bool IsAccepted(std::string_view extension, std::span<const std::string_view> accepted);

// The order in which a pass takes the entries of a folder: ASCII letters compared as upper case, every other
// byte as it is, so "_" comes after the letters and b.jpg before C.jpg; names that differ only in letter case
// by their bytes. It is the order a camera's card lists them in, whatever order this file system keeps.
bool ComesBeforeInNameOrder(std::string_view a, std::string_view b);

// The name without its extension: the part before the last "." (the whole name when there is none). For a
// taken name that is the part before its only ".", and it may be empty (".jpg").
std::string FileTitle(std::string_view name);

// The number box's text read as a signed decimal number: optional leading blanks, an optional "-", then
// decimal digits and nothing else, within the 32-bit range. Anything else (empty, "~", "+5", "12a", a
// number out of range) reads as 0.
int32_t ReadDialogInt(std::string_view text);

// The same reading, telling a number apart from text that is not one: no value where ReadDialogInt gives 0
// for want of a number.
std::optional<int32_t> ParseDialogInt(std::string_view text);

// The number as the number box shows it: signed decimal, as "%d".
std::string FormatDialogInt(int32_t number);

// The number after `number`. Past the largest 32-bit value it wraps to the smallest, as 32-bit two's
// complement does.
int32_t NextNumber(int32_t number);

// The new name of a taken entry: the title changed by `option`, then the extension.
//   Nothing (and any unknown option): the title unchanged.
//   Text: " -" and the text with every "/" and "\" removed.
//   Date: " -" and the local date of `creationTime` as MMDDYY.
//   Number: " -" and the number read from `inputs`; the number after it goes back into `inputs` and into
//           `passNumber`, so the next file gets the next number.
//   Rename: every occurrence of the find text replaced by the new text, left to right, without overlaps.
// `creationTime` is only looked at under Date.
std::string ComposeNewName(std::string_view title, std::string_view extension, NameOption option,
                           time_t creationTime, NamingInputs& inputs, int32_t& passNumber);

// Why a composed name must not be used as a file name in the destination folder, or "" when it may: a "/"
// would reach into another folder ("../x" leaves the destination), a NUL byte would cut the name short, and
// "." and ".." name folders rather than files. The Rename option puts its new text in unchanged, so any of
// these can come out of it.
std::string UnsafeNameReason(std::string_view name);

}  // namespace transfer
