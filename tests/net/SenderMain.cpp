// A stand-in for the game in the kill test: starts the hub's thread on the
// settings folder given, which sends what waits in its outbox, and idles
// until it is killed (or half a minute has passed).
#include "net/HubService.h"

#include <chrono>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2 || !hubStart(HubFiles{argv[1]})) {
        return 2;
    }
    std::this_thread::sleep_for(std::chrono::seconds(30));
    hubStop();
    return 0;
}
