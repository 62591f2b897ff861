#include "net/HubCommand.h"

#include "net/HubApi.h"

namespace {

const char* const kUsage = "usage: velto                               start the game\n"
                           "       velto --hub URL --register NAME     register NAME on a hub and send best runs there\n"
                           "       velto --hub-off                     forget the hub; nothing is sent any more\n";

} // namespace

int runHubCommand(const std::vector<std::string>& args, const HubFiles& files, std::ostream& out,
                  std::ostream& err)
{
    if (args.empty()) {
        return -1;
    }
    if (args.size() == 1 && args[0] == "--hub-off") {
        forgetHub(files);
        out << "The hub is forgotten: nothing will be sent.\n";
        return 0;
    }
    std::string url;
    std::string name;
    bool ok = args.size() == 4;
    for (size_t i = 0; ok && i < args.size(); i += 2) {
        if (args[i] == "--hub") {
            url = args[i + 1];
        } else if (args[i] == "--register") {
            name = args[i + 1];
        } else {
            ok = false;
        }
    }
    if (!ok || url.empty() || name.empty()) {
        err << kUsage;
        return 2;
    }
    std::string normal;
    std::string why;
    if (!normaliseHubUrl(url, normal, why)) {
        err << "velto: " << why << "\n";
        return 2;
    }
    const std::string problem = playerNameProblem(name);
    if (!problem.empty()) {
        err << "velto: \"" << name << "\" cannot be a name: " << problem << "\n";
        return 2;
    }
    const RegisterResult result = registerPlayer(normal, name, HubTimeouts{});
    if (!result.ok) {
        err << "velto: " << name << " is not registered: " << result.message << "\n";
        return 1;
    }
    if (!writeHubAccount(files.settings(), HubAccount{normal, name, result.token})) {
        // The name is the player's now: the token must not be lost with it.
        err << "velto: " << name << " is registered, but " << files.settings() << " cannot be written.\n"
            << "Keep this token: it is the only key to the name. Put these three lines into\n"
            << files.settings() << " (readable by you alone) once it can be written:\n"
            << "url=" << normal << "\nname=" << name << "\ntoken=" << result.token << "\n";
        return 1;
    }
    // The best times set before joining count too.
    const int queued = queueLocalBests(files, files.folder + (files.folder.empty() ? "tracks" : "/tracks"));
    out << "Registered " << name << " on " << normal << ". Best runs are sent there from now on;\n"
        << "velto --hub-off stops that.\n"
        << queued << (queued == 1 ? " best run" : " best runs") << " from before will be sent.\n";
    return 0;
}
