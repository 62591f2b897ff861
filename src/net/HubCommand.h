// The program's command line, which only sets up a hub:
//   velto --hub URL --register NAME   registers NAME on the hub and keeps
//                                     the hub, the name and the token
//   velto --hub-off                   forgets the hub (and what waits for it)
// Without arguments the program starts as always.
#pragma once

#include "net/HubStore.h"

#include <ostream>
#include <string>
#include <vector>

// Carries out a hub command. Returns the exit status, or -1 when `args`
// is empty and the program should start.
int runHubCommand(const std::vector<std::string>& args, const HubFiles& files, std::ostream& out,
                  std::ostream& err);
