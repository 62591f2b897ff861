// Open and save dialogs on FLTK's native chooser (GTK when available).
#include "platform/FileDialogs.h"

#include "platform/MessageBox.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const char* const trackFilter = "Velto track file (*.vlt)|*.vlt|All files (*.*)|*.*";
const char* const defaultExtension = "vlt";

FileDialogHandler dialogHandler;

constexpr unsigned yesNoButtons = 0x0004;

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string currentFolder()
{
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer) == nullptr) {
        return ".";
    }
    return buffer;
}

std::string absolutePath(const std::string& path)
{
    if (path.empty() || path.front() == '/') {
        return path;
    }
    return currentFolder() + "/" + path;
}

// Splits a path into its folder (empty when none) and file name.
std::pair<std::string, std::string> splitPath(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {std::string(), path};
    }
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}

// Shows the chooser once. True with the chosen name in `path`.
bool showChooser(bool save, std::string& path)
{
    Fl_Native_File_Chooser chooser;
    chooser.type(save ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE : Fl_Native_File_Chooser::BROWSE_FILE);
    chooser.title(save ? "Save As" : "Open");
    chooser.options(save ? Fl_Native_File_Chooser::SAVEAS_CONFIRM : Fl_Native_File_Chooser::NO_OPTIONS);
    const std::string filter = chooserFilter(trackFilter);
    chooser.filter(filter.c_str());

    std::string folder = initialDialogFolder();
    std::string file;
    if (!path.empty()) {
        auto [dir, name] = splitPath(absolutePath(path));
        if (isFolder(dir)) {
            folder = dir;
        }
        file = name;
    }
    chooser.directory(folder.c_str());
    if (save && !file.empty()) {
        chooser.preset_file(file.c_str());
    }
    if (chooser.show() != 0) {
        return false; // cancelled, or the chooser failed
    }
    const char* chosen = chooser.filename();
    if (chosen == nullptr || *chosen == '\0') {
        return false;
    }
    path = chosen;
    return true;
}

} // namespace

std::string chooserFilter(const std::string& filter)
{
    std::string result;
    std::size_t start = 0;
    while (start < filter.size()) {
        const auto nameEnd = filter.find('|', start);
        if (nameEnd == std::string::npos) {
            break;
        }
        auto patternEnd = filter.find('|', nameEnd + 1);
        if (patternEnd == std::string::npos) {
            patternEnd = filter.size();
        }
        std::string pattern = filter.substr(nameEnd + 1, patternEnd - nameEnd - 1);
        if (pattern == "*.*") {
            pattern = "*";
        }
        result += filter.substr(start, nameEnd - start);
        result += '\t';
        result += pattern;
        result += '\n';
        start = patternEnd + 1;
    }
    return result;
}

std::string withDefaultExtension(const std::string& path)
{
    const auto name = splitPath(path).second;
    if (name.empty() || name.find('.') != std::string::npos) {
        return path;
    }
    return path + "." + defaultExtension;
}

std::string initialDialogFolder()
{
    const std::string tracks = currentFolder() + "/tracks";
    return isFolder(tracks) ? tracks : currentFolder();
}

void setFileDialogHandler(FileDialogHandler handler)
{
    dialogHandler = std::move(handler);
}

bool runOpenDialog(std::string& path)
{
    if (dialogHandler) {
        return dialogHandler(false, path);
    }
    std::string proposed = path;
    for (;;) {
        std::string chosen = proposed;
        if (!showChooser(false, chosen)) {
            return false;
        }
        if (!isRegularFile(chosen) && isRegularFile(withDefaultExtension(chosen))) {
            chosen = withDefaultExtension(chosen);
        }
        if (isRegularFile(chosen)) {
            path = absolutePath(chosen);
            return true;
        }
        messageBox(chosen + "\nFile not found.\nCheck the file name and try again.", "Open",
                   MB_OK | MB_ICONWARNING);
        proposed = chosen;
    }
}

bool runSaveDialog(std::string& path)
{
    if (dialogHandler) {
        return dialogHandler(true, path);
    }
    std::string proposed = path;
    for (;;) {
        std::string typed = proposed;
        if (!showChooser(true, typed)) {
            return false;
        }
        const std::string chosen = absolutePath(withDefaultExtension(typed));
        // The chooser has asked about the name as typed; a name that only
        // exists once the extension is added is asked about here.
        if (chosen != absolutePath(typed) && isRegularFile(chosen)) {
            const int answer = messageBox(chosen + " already exists.\nDo you want to replace it?",
                                          "Confirm Save As", yesNoButtons | MB_ICONWARNING);
            if (answer != IDYES) {
                proposed = chosen;
                continue;
            }
        }
        path = chosen;
        return true;
    }
}
