// The operator's commands on a hub's database, run in place of the server:
//
//   velto-hub --db ... hide-track DIGEST [REASON...]
//   velto-hub --db ... unhide-track DIGEST [REASON...]
//   velto-hub --db ... ban-player NAME [REASON...]
//   velto-hub --db ... delete-run DIGEST NAME [REASON...]
//   velto-hub --db ... reports
//   velto-hub --db ... acts
//   velto-hub --db ... import-pack DIR
//
// Hidden tracks, a banned player's tracks and runs, and deleted runs are
// gone from every list, page and answer of every hub on the database at
// once; a banned player's token is refused. Every act is kept with its time
// and reason (`acts` lists them). `import-pack` stores the game's own tracks
// (the .vlt files of DIR) as authored by the reserved name kPackAuthor,
// moving any already stored under a player to it.
#pragma once

#include "Store.h"

#include <cstdio>
#include <string>
#include <vector>

namespace hub {

// True when `word` names one of the commands above.
bool isModerationCommand(const std::string& word);

// Runs one command; its answer goes to `out`, a refusal to `err`. Returns
// the exit status: 0 done, 1 nothing to act on, 2 a usage error.
int runModeration(Store& store, const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace hub
