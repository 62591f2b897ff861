// The physics step on its own thread while another thread draws: the drawn
// bike, the apple list and the apple count are only read under sceneLock.
#include "physics/World.h"

#include "../TestTracks.h"

#include "model/Globals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

TEST(SceneLockTest, DrawingThreadSeesConsistentApplesAndBike)
{
    testtracks::TempDir dir;
    testtracks::Track track;
    track.polygons.push_back(testtracks::flatGround());
    for (int i = 1; i <= 8; ++i) {
        track.apples.push_back({100.0 * i, 30.0});
    }
    ASSERT_TRUE(buildWorld(dir.writeTrack("apples.vlt", track)));
    clearKeys();
    keyDown[VK_UP] = true;
    keyDown[VK_RIGHT] = true;

    std::atomic<bool> done{false};
    std::atomic<bool> drawing{false};
    std::thread physics([&done, &drawing] {
        while (!drawing.load()) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 800 && stepWorld(kStepSeconds) == StepRunning; ++i) {
            stepCount += 1;
        }
        done = true;
    });

    int frames = 0;
    bool consistent = true;
    while (!done.load()) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        std::lock_guard<std::mutex> guard(sceneLock);
        int listed = 0;
        for (const Capples* apple = trackApples; apple != nullptr; apple = apple->next) {
            ++listed;
        }
        consistent = consistent && listed == applesLeft && std::isfinite(shownMoto->position.x) &&
                     std::isfinite(shownMoto->frontWheel->position.x);
        ++frames;
        (void)cameraLead.load();
        drawing = true;
    }
    physics.join();
    EXPECT_TRUE(consistent);
    EXPECT_GT(frames, 0);
    EXPECT_EQ(applesLeft, 0);
    freeWorld();
    clearKeys();
}

}  // namespace
