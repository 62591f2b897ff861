#include "Moderation.h"

#include "Api.h"
#include "TrackShape.h"

#include "model/Replay.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace hub {
namespace {

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The words from `from` on, joined by spaces.
std::string reasonFrom(const std::vector<std::string>& args, size_t from)
{
    std::string reason;
    for (size_t i = from; i < args.size(); ++i) {
        reason += (reason.empty() ? "" : " ") + args[i];
    }
    return reason.empty() ? std::string("(no reason given)") : reason;
}

int usage(std::FILE* err, const std::string& why)
{
    std::fprintf(err,
                 "velto-hub: %s\n"
                 "commands: hide-track DIGEST [REASON], unhide-track DIGEST [REASON], ban-player NAME [REASON],\n"
                 "          delete-run DIGEST NAME [REASON], reports, acts, import-pack DIR\n",
                 why.c_str());
    return 2;
}

// Stores every .vlt file of `dir` as a track of the game's own; a file the
// hub would refuse is named with the reason and the rest go on.
int importPack(Store& store, const std::string& dir, int64_t now, std::FILE* out, std::FILE* err)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        // Regular files only: no FIFO or device is opened.
        std::error_code kind;
        if (it->path().extension() == ".vlt" && it->is_regular_file(kind)) {
            files.push_back(it->path());
        }
    }
    if (ec) {
        std::fprintf(err, "velto-hub: cannot read the folder %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    std::sort(files.begin(), files.end());
    int added = 0;
    int moved = 0;
    int held = 0;
    int refused = 0;
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        std::error_code sizeError;
        const auto size = fs::file_size(file, sizeError);
        std::string canonical;
        std::string why;
        uint64_t digest = 0;
        if (sizeError || size > kMaxTrackBytes) {
            why = sizeError ? sizeError.message() : "larger than " + std::to_string(kMaxTrackBytes >> 20) + " MiB";
        } else if (!validTrackName(name)) {
            why = "a track's name has 1 to 64 letters, digits, spaces, '.', '-' or '_'";
        } else if (checkTrackFile(file.string(), canonical, why) != TrackCheck::Canonical) {
            // `why` says what the reader or the writer found.
        } else if (!trackDigest(file.string(), digest)) {
            why = "cannot be read again";
        }
        if (!why.empty()) {
            std::fprintf(err, "velto-hub: %s refused: %s\n", name.c_str(), why.c_str());
            ++refused;
            continue;
        }
        const std::string hex = hexDigest(digest);
        switch (store.importTrack(hex, name, canonical, now)) {
        case ImportOutcome::Added:
            ++added;
            std::fprintf(out, "%s  %s  added\n", hex.c_str(), name.c_str());
            break;
        case ImportOutcome::Moved:
            ++moved;
            std::fprintf(out, "%s  %s  moved to %s\n", hex.c_str(), name.c_str(), kPackAuthor);
            break;
        case ImportOutcome::Held:
            ++held;
            break;
        }
    }
    std::fprintf(out, "velto-hub: %d tracks added, %d moved to %s, %d held already, %d refused\n", added, moved,
                 kPackAuthor, held, refused);
    return refused == 0 ? 0 : 1;
}

}  // namespace

bool isModerationCommand(const std::string& word)
{
    return word == "hide-track" || word == "unhide-track" || word == "ban-player" || word == "delete-run" ||
           word == "reports" || word == "acts" || word == "import-pack";
}

int runModeration(Store& store, const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    if (args.empty() || !isModerationCommand(args[0])) {
        return usage(err, "no such command");
    }
    const std::string& command = args[0];
    const int64_t now = nowMs();
    if (command == "reports" || command == "acts") {
        if (args.size() != 1) {
            return usage(err, command + " takes nothing more");
        }
        if (command == "reports") {
            for (const Report& r : store.reports()) {
                std::fprintf(out, "%s  %s  %s%s  reported by %s: %s\n", isoDate(r.created).c_str(), r.digest.c_str(),
                             r.trackName.c_str(), r.trackHidden ? " (hidden)" : "", r.player.c_str(),
                             r.reason.c_str());
            }
        } else {
            for (const ModerationAct& a : store.moderationLog()) {
                std::fprintf(out, "%s  %s %s: %s\n", isoDate(a.at).c_str(), a.act.c_str(), a.target.c_str(),
                             a.reason.c_str());
            }
        }
        return 0;
    }
    if (command == "import-pack") {
        if (args.size() != 2) {
            return usage(err, "import-pack needs one folder");
        }
        return importPack(store, args[1], now, out, err);
    }
    if (args.size() < 2 || (command == "delete-run" && args.size() < 3)) {
        return usage(err, command + " needs " + (command == "delete-run" ? "a track's digest and a player's name" :
                                                 command == "ban-player" ? "a player's name" : "a track's digest"));
    }
    bool done = false;
    std::string what;
    if (command == "hide-track" || command == "unhide-track") {
        done = store.setTrackHidden(args[1], command == "hide-track", reasonFrom(args, 2), now);
        what = done ? "track " + args[1] + (command == "hide-track" ? " hidden" : " shown again")
                    : "no track " + args[1] + (command == "hide-track" ? " to hide" : " to show again");
    } else if (command == "ban-player") {
        done = store.banPlayer(args[1], reasonFrom(args, 2), now);
        what = done ? "player " + args[1] + " banned; their runs and tracks are hidden"
                    : "no player " + args[1] + " to ban";
    } else {
        done = store.deleteRun(args[1], args[2], reasonFrom(args, 3), now);
        what = done ? "the run of " + args[2] + " on " + args[1] + " deleted"
                    : "no run of " + args[2] + " on " + args[1];
    }
    std::fprintf(done ? out : err, "velto-hub: %s\n", what.c_str());
    return done ? 0 : 1;
}

}  // namespace hub
