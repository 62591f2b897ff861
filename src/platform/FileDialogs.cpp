// Open and save dialogs on FLTK's native chooser (GTK when available).
#include "platform/FileDialogs.h"

#include "platform/MessageBox.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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
// used files, under this program's name: before it closes, or at a later
// turn of GLib's loop (it looks the file's type up first), and that loop
// runs only while a chooser is open. The track dialogs keep off that list.
// An entry that lists this program alone was added by the chooser and is
// taken out whenever it shows up; nobody waits for it. An entry that lists
// other programs too was the player's before and stays. GTK is loaded by
// FLTK at run time, so its functions are looked up in the loaded libraries.
class RecentFiles {
public:
    // The list's keeper; null when GTK is not loaded (FLTK's own chooser).
    static RecentFiles* get()
    {
        static RecentFiles* instance = [] {
            auto* recent = new RecentFiles();
            if (!recent->resolve()) {
                delete recent;
                return static_cast<RecentFiles*>(nullptr);
            }
            // Entries that come later are handled as the list changes.
            recent->connect(recent->manager, "changed", reinterpret_cast<void (*)()>(&RecentFiles::changed),
                            recent, nullptr, 0);
            return recent;
        }();
        return instance;
    }

    // Called after the chooser returned `path`.
    void forget(const std::string& path)
    {
        if (char* uri = toUri(path.c_str(), nullptr, nullptr); uri != nullptr) {
            pending.emplace_back(uri);
            freeMemory(uri);
        }
        // Let GTK finish with the closed chooser (it is taken off the
        // screen now, before any question about the chosen name).
        while (iterate(nullptr, 0) != 0) {
        }
        if (flush != nullptr) {
            flush();
        }
        sweep();
    }

private:
    using GetDefault = void* (*)();
    using LookupItem = void* (*)(void* manager, const char* uri, void** error);
    using Applications = char** (*)(void* info, std::size_t* count);
    using RemoveItem = int (*)(void* manager, const char* uri, void** error);
    using FilenameToUri = char* (*)(const char* filename, const char* hostname, void** error);
    using Iterate = int (*)(void* context, int mayBlock);
    using Free = void (*)(void*);
    using FreeStrings = void (*)(char**);
    using Name = const char* (*)();
    using EmitByName = void (*)(void* instance, const char* signal, ...);
    using Connect = unsigned long (*)(void* instance, const char* signal, void (*handler)(), void* data,
                                      void* destroy, int flags);
    using Flush = void (*)();

    template <class F>
    static bool find(void* library, const char* name, F& function)
    {
        function = library != nullptr ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
        return function != nullptr;
    }

    bool resolve()
    {
        // Only libraries already loaded are looked at; they stay loaded.
        void* gtk = dlopen("libgtk-x11-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
        void* glib = dlopen("libglib-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
        void* gobject = dlopen("libgobject-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
        void* gdk = dlopen("libgdk-x11-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
        GetDefault getDefault = nullptr;
        const bool found = find(gtk, "gtk_recent_manager_get_default", getDefault)
            && find(gtk, "gtk_recent_manager_lookup_item", lookup) && find(gtk, "gtk_recent_info_get_applications", applications)
            && find(gtk, "gtk_recent_info_unref", unrefInfo) && find(gtk, "gtk_recent_manager_remove_item", removeItem)
            && find(glib, "g_filename_to_uri", toUri) && find(glib, "g_main_context_iteration", iterate)
            && find(glib, "g_free", freeMemory) && find(glib, "g_strfreev", freeStrings)
            && find(glib, "g_error_free", freeError) && find(glib, "g_get_application_name", applicationName)
            && find(gobject, "g_signal_emit_by_name", emit) && find(gobject, "g_signal_connect_data", connect);
        find(gdk, "gdk_flush", flush);
        manager = found ? getDefault() : nullptr;
        return manager != nullptr;
    }

    static void changed(void*, void* self) { static_cast<RecentFiles*>(self)->sweep(); }

    // Takes out the pending entries that show up listing this program alone,
    // and forgets those that show up listing others too.
    void sweep()
    {
        if (sweeping) {
            return;
        }
        sweeping = true;
        const char* self = applicationName();
        bool removed = false;
        for (auto it = pending.begin(); it != pending.end();) {
            void* error = nullptr;
            void* info = lookup(manager, it->c_str(), &error);
            if (error != nullptr) {
                freeError(error);
            }
            if (info == nullptr) {
                ++it; // not there (yet)
                continue;
            }
            std::size_t count = 0;
            char** names = applications(info, &count);
            const bool onlyThisProgram = count == 1 && names != nullptr && self != nullptr
                && std::strcmp(names[0], self) == 0;
            freeStrings(names);
            unrefInfo(info);
            if (onlyThisProgram) {
                removeItem(manager, it->c_str(), &error);
                if (error != nullptr) {
                    freeError(error);
                }
                removed = true;
            }
            it = pending.erase(it);
        }
        if (removed) {
            // Write the list now rather than at a later turn of GLib's loop.
            emit(manager, "changed");
        }
        sweeping = false;
    }

    void* manager = nullptr;
    std::vector<std::string> pending; // URIs of chosen files not seen on the list yet
    bool sweeping = false;
    LookupItem lookup = nullptr;
    Applications applications = nullptr;
    Free unrefInfo = nullptr;
    RemoveItem removeItem = nullptr;
    FilenameToUri toUri = nullptr;
    Iterate iterate = nullptr;
    Free freeMemory = nullptr;
    FreeStrings freeStrings = nullptr;
    Free freeError = nullptr;
    Name applicationName = nullptr;
    EmitByName emit = nullptr;
    Connect connect = nullptr;
    Flush flush = nullptr;
};

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
    if (RecentFiles* recent = RecentFiles::get()) {
        recent->forget(path);
    }
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
