// Fuzz target of the naming as the move pass uses it: the input is the naming option (its first byte), then
// the camera file's name, the Text, the Rename find and new texts and the number box's text, NUL between
// them. Whatever they are, the pass makes names only in the destination folder it was given (and the
// settings file's folder), never an empty one, "." or "..".
#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>

#include "platform/Path.h"
#include "platform/Sys.h"
#include "settings/SettingsFile.h"
#include "transfer/MovePass.h"

using namespace platform;
using namespace transfer;

namespace {

const SysCalls kReal = RealSysCalls();
std::string g_camera, g_destination, g_settings;

const char* Checked(const char* made) {
    const std::string folder = FolderOf(made), name = NameOf(made);
    if ((folder != g_destination && folder != g_settings) || name.empty() || name == "." || name == "..") {
        __builtin_trap();
    }
    return made;
}

SysCalls CheckingCalls() {
    // In the scratch folder that scripts/fuzz.sh removes whatever way the run ends.
    const char* scratch = std::getenv("TOVARO_FUZZ_SCRATCH");
    std::string root = std::string(scratch != nullptr ? scratch : "/tmp") + "/naming-XXXXXX";
    g_camera = ::mkdtemp(root.data()) + std::string("/camera");
    g_destination = root + "/computer";
    g_settings = root + "/settings";
    for (const std::string& folder : {g_camera, g_destination, g_settings}) {
        ::mkdir(folder.c_str(), 0755);
    }
    SysCalls calls = kReal;
    calls.open = [](const char* path, int flags, mode_t mode) {
        return kReal.open((flags & O_CREAT) != 0 ? Checked(path) : path, flags, mode);
    };
    calls.renameat2 = [](const char* from, const char* to, unsigned flags) {
        return kReal.renameat2(from, Checked(to), flags);
    };
    calls.rename = [](const char* from, const char* to) { return kReal.rename(from, Checked(to)); };
    calls.link = [](const char* from, const char* to) { return kReal.link(from, Checked(to)); };
    return calls;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ScopedSysCalls checking(CheckingCalls());
    std::string fields[5];
    for (size_t i = 1, field = 0; i < size && field < 5; ++i) {
        data[i] == 0 ? void(++field) : fields[field].push_back(static_cast<char>(data[i]));
    }
    const std::string extension = SelectionExtension(fields[0]);
    if (size == 0 || !extension.starts_with('.') || fields[0].size() > 200 ||
        fields[0].find('/') != std::string::npos) {
        return 0;
    }
    ::close(kReal.open(JoinPath(g_camera, fields[0]).c_str(), O_CREAT | O_WRONLY, 0644));
    PlainNamingInputs inputs;
    inputs.text = fields[1], inputs.renameFind = fields[2], inputs.renameNew = fields[3];
    inputs.numberText = fields[4], inputs.numberChecked = data[0] % 8 == kNameNumber;
    PassOptions options;
    options.moveExtensions = {extension};
    MovePass(g_camera, g_destination, data[0] % 8, inputs, SettingsFile(g_settings + "/tovaro.ini"), options);
    for (const std::string& folder : {g_camera, g_destination}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::filesystem::remove_all(entry);
        }
    }
    return 0;
}
