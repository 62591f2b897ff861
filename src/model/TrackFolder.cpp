#include "model/TrackFolder.h"

#include "model/Replay.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool hasTrackExtension(const std::string& name)
{
    if (name.size() <= 4) {
        return false;
    }
    std::string extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return extension == ".vlt";
}

} // namespace

std::string folderOf(const std::string& trackPath)
{
    const size_t slash = trackPath.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : trackPath.substr(0, slash);
}

std::vector<std::string> trackFilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::directory_entry& entry = *it;
        std::string name = entry.path().filename().string();
        std::error_code ignored;
        if (!hasTrackExtension(name) || entry.is_directory(ignored)) {
            continue;
        }
        names.push_back(std::move(name));
        if (names.size() >= kMaxFolderTracks) {
            break;
        }
    }
    std::sort(names.begin(), names.end());
    const std::string prefix = folder == "/" ? folder : folder + "/";
    for (std::string& name : names) {
        name = prefix + name;
    }
    return names;
}

std::string trackAfter(const std::string& current, const std::vector<std::string>& files)
{
    const std::string name = fileNameOf(current);
    for (const std::string& file : files) {
        if (fileNameOf(file) > name) {
            return file;
        }
    }
    return {};
}
