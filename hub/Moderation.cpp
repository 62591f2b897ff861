#include "Moderation.h"

#include "Api.h"

#include <chrono>

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
                 "          delete-run DIGEST NAME [REASON], reports, acts\n",
                 why.c_str());
    return 2;
}

}  // namespace

bool isModerationCommand(const std::string& word)
{
    return word == "hide-track" || word == "unhide-track" || word == "ban-player" || word == "delete-run" ||
           word == "reports" || word == "acts";
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
