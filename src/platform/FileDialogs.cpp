// Open and save dialogs on FLTK's native chooser (GTK when available).
#include "platform/FileDialogs.h"

#include "platform/MessageBox.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
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

// GTK's chooser puts every file it returns on the desktop's list of recently
// used files, a moment after it closes (it looks the file's type up first);
// the track dialogs keep off that list. GTK is loaded by FLTK at run time,
// so its functions are looked up in the loaded libraries.
void removeFromRecentFiles(const std::string& path)
{
    void* gtk = dlopen("libgtk-x11-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
    void* glib = dlopen("libglib-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
    void* gobject = dlopen("libgobject-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (gtk != nullptr && glib != nullptr && gobject != nullptr) {
        using GetDefault = void* (*)();
        using HasItem = int (*)(void* manager, const char* uri);
        using RemoveItem = int (*)(void* manager, const char* uri, void** error);
        using FilenameToUri = char* (*)(const char* filename, const char* hostname, void** error);
        using Iterate = int (*)(void* context, int mayBlock);
        using Free = void (*)(void*);
        using EmitByName = void (*)(void* instance, const char* signal, ...);
        auto getDefault = reinterpret_cast<GetDefault>(dlsym(gtk, "gtk_recent_manager_get_default"));
        auto hasItem = reinterpret_cast<HasItem>(dlsym(gtk, "gtk_recent_manager_has_item"));
        auto removeItem = reinterpret_cast<RemoveItem>(dlsym(gtk, "gtk_recent_manager_remove_item"));
        auto toUri = reinterpret_cast<FilenameToUri>(dlsym(glib, "g_filename_to_uri"));
        auto iterate = reinterpret_cast<Iterate>(dlsym(glib, "g_main_context_iteration"));
        auto freeMemory = reinterpret_cast<Free>(dlsym(glib, "g_free"));
        auto freeError = reinterpret_cast<Free>(dlsym(glib, "g_error_free"));
        auto emit = reinterpret_cast<EmitByName>(dlsym(gobject, "g_signal_emit_by_name"));
        void* manager = getDefault != nullptr ? getDefault() : nullptr;
        char* uri = toUri != nullptr ? toUri(path.c_str(), nullptr, nullptr) : nullptr;
        if (manager != nullptr && uri != nullptr && hasItem != nullptr && removeItem != nullptr
            && iterate != nullptr && freeError != nullptr && emit != nullptr) {
            // Let GTK finish with the closed chooser (it is taken off the
            // screen now, before any question about the chosen name).
            while (iterate(nullptr, 0) != 0) {
            }
            if (void* gdk = dlopen("libgdk-x11-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD); gdk != nullptr) {
                using Flush = void (*)();
                if (auto flush = reinterpret_cast<Flush>(dlsym(gdk, "gdk_flush")); flush != nullptr) {
                    flush();
                }
                dlclose(gdk);
            }
            const bool listedBefore = hasItem(manager, uri) != 0;
            // Wait for the entry to be added (at most half a second), then take it out.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
            while (!listedBefore && hasItem(manager, uri) == 0 && std::chrono::steady_clock::now() < deadline) {
                if (iterate(nullptr, 0) == 0) {
                    usleep(2000);
                }
            }
            if (hasItem(manager, uri) != 0) {
                void* error = nullptr;
                removeItem(manager, uri, &error);
                if (error != nullptr) {
                    freeError(error);
                }
                // Write the list now rather than at a later turn of GTK's loop,
                // which only runs while a chooser is open.
                emit(manager, "changed");
            }
        }
        if (uri != nullptr && freeMemory != nullptr) {
            freeMemory(uri);
        }
    }
    if (gobject != nullptr) {
        dlclose(gobject);
    }
    if (glib != nullptr) {
        dlclose(glib);
    }
    if (gtk != nullptr) {
        dlclose(gtk);
    }
}

// Shows the chooser once. True with the chosen name in `path`.
bool showChooser(bool save, std::string& path)
{
    std::string folder = initialDialogFolder();
    std::string file;
    if (!path.empty()) {
        auto [dir, name] = splitPath(absolutePath(path));
        if (isFolder(dir)) {
            folder = dir;
        }
        file = name;
    }
    std::string chosen;
    {
        // The chooser's window goes with the chooser: it is gone before
        // anything is asked about the chosen name.
        Fl_Native_File_Chooser chooser;
        chooser.type(save ? Fl_Native_File_Chooser::BROWSE_SAVE_FILE : Fl_Native_File_Chooser::BROWSE_FILE);
        chooser.title(save ? "Save As" : "Open");
        chooser.options(save ? Fl_Native_File_Chooser::SAVEAS_CONFIRM : Fl_Native_File_Chooser::NO_OPTIONS);
        const std::string filter = chooserFilter(trackFilter);
        chooser.filter(filter.c_str());
        chooser.directory(folder.c_str());
        if (save && !file.empty()) {
            chooser.preset_file(file.c_str());
        }
        if (chooser.show() != 0) {
            return false; // cancelled, or the chooser failed
        }
        const char* name = chooser.filename();
        chosen = name != nullptr ? name : "";
    }
    if (chosen.empty()) {
        return false;
    }
    path = chosen;
    removeFromRecentFiles(path);
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

bool settleOpenName(const std::string& typed, std::string& chosen)
{
    chosen = typed;
    if (!isRegularFile(chosen) && isRegularFile(withDefaultExtension(chosen))) {
        chosen = withDefaultExtension(chosen);
    }
    if (!isRegularFile(chosen)) {
        messageBox(chosen + "\nFile not found.\nCheck the file name and try again.", "Open",
                   MB_OK | MB_ICONWARNING);
        return false;
    }
    chosen = absolutePath(chosen);
    return true;
}

bool settleSaveName(const std::string& typed, std::string& chosen)
{
    chosen = absolutePath(withDefaultExtension(typed));
    // The chooser has asked about the name as typed; a name that only
    // exists once the extension is added is asked about here.
    if (chosen != absolutePath(typed) && isRegularFile(chosen)) {
        const int answer = messageBox(chosen + " already exists.\nDo you want to replace it?",
                                      "Confirm Save As", yesNoButtons | MB_ICONWARNING);
        return answer == IDYES;
    }
    return true;
}

bool runOpenDialog(std::string& path)
{
    if (dialogHandler) {
        return dialogHandler(false, path);
    }
    std::string proposed = path;
    for (;;) {
        std::string typed = proposed;
        if (!showChooser(false, typed)) {
            return false;
        }
        std::string chosen;
        if (settleOpenName(typed, chosen)) {
            path = chosen;
            return true;
        }
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
        std::string chosen;
        if (settleSaveName(typed, chosen)) {
            path = chosen;
            return true;
        }
        proposed = chosen;
    }
}
