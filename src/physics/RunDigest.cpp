// The digest of a run, step by step.
#include "physics/RunDigest.h"

#include "physics/World.h"

#include <xxhash.h>

#include <bit>
#include <cstddef>

namespace {

constexpr size_t kRecordBytes = 4 * 4 + 20 * 8;

void put(unsigned char*& out, uint64_t bits, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        *out++ = static_cast<unsigned char>(bits >> (8 * i));
    }
}

void putInt(unsigned char*& out, int32_t value)
{
    put(out, static_cast<uint32_t>(value), 4);
}

void putDouble(unsigned char*& out, double value)
{
    put(out, std::bit_cast<uint64_t>(value), 8);
}

void putBall(unsigned char*& out, const Cball& ball)
{
    putDouble(out, ball.position.x);
    putDouble(out, ball.position.y);
    putDouble(out, ball.velocity.x);
    putDouble(out, ball.velocity.y);
    putDouble(out, ball.angle);
    putDouble(out, ball.angularVelocity);
}

} // namespace

void RunDigest::addStep(int32_t result)
{
    unsigned char record[kRecordBytes];
    unsigned char* out = record;
    putInt(out, stepCount.load());
    putInt(out, result);
    putInt(out, applesLeft);
    putInt(out, facing.load());
    putBall(out, *simMoto);
    putBall(out, *simMoto->frontWheel);
    putBall(out, *simMoto->rearWheel);
    putDouble(out, simMoto->head->position.x);
    putDouble(out, simMoto->head->position.y);
    value_ = XXH3_64bits_withSeed(record, kRecordBytes, value_);
}
