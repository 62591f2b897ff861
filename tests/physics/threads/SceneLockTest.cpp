// The physics step against the drawing: collected apples leave the list,
// and the count drops, only while the step holds sceneLock, so that a
// frame never walks a freed apple or a count that disagrees with the list.
#include "physics/World.h"

#include "../TestTracks.h"

#include "model/Globals.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<int> removals{0};
std::atomic<int> removalsOpenToDrawing{0};

// Runs inside every removal: a drawing thread that wants the scene now must
// find it locked. The stepping thread is the only other user of the lock.
void tryToDraw()
{
    ++removals;
    std::thread drawing([] {
        if (sceneLock.try_lock()) {
            ++removalsOpenToDrawing;
            sceneLock.unlock();
        }
    });
    drawing.join();
}

TEST(SceneLockTest, ApplesAreRemovedOnlyWhileTheDrawingIsLockedOut)
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
    appleRemovalHook = tryToDraw;
    for (int i = 0; i < 800 && stepWorld(kStepSeconds) == StepRunning; ++i) {
        stepCount += 1;
    }
    appleRemovalHook = nullptr;
    EXPECT_EQ(applesLeft, 0);
    EXPECT_GE(removals.load(), 1);
    EXPECT_EQ(removalsOpenToDrawing.load(), 0) << "of " << removals.load() << " removals";
    freeWorld();
    clearKeys();
}

}  // namespace
