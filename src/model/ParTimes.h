// Par times and medals.
//
// A folder of tracks may hold a par index beside them, the text file
// "par-times.txt": comment lines start with '#', and every other line names
// one track:
//
//   # velto par times 1
//   # file  digest  par (hundredths of a second)
//   01-first-ride.vlt 5f3a0c19e2d4b786 1200
//
// The digest is the track's (model/Replay.h: trackDigest), so a track that
// was changed after the index was made has no par. The reader never trusts
// the file: it reads at most kMaxParFileBytes, skips every line that does not
// parse (a name with a folder in it, a digest of other than 16 hex digits, a
// par that is not a whole number from 1 to kMaxParSteps, extra fields, a line
// longer than kMaxParLineBytes), and for a name given twice keeps the first.
//
// A finish at or under par wins gold, one at most 25 % over par silver, any
// other finish bronze; a track without a par wins no medal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

inline constexpr const char* kParFileName = "par-times.txt";
inline constexpr size_t kMaxParFileBytes = size_t{1} << 20;
inline constexpr size_t kMaxParLineBytes = 1024;
inline constexpr int32_t kMaxParSteps = 360000;   // an hour

struct ParTime {
    std::string file;      // the track's file name, without its folder
    uint64_t digest = 0;   // trackDigest of the track the par was set on
    int32_t steps = 0;     // the par in physics steps (hundredths of a second)
};

class ParTimes {
public:
    // Parses an index; lines that do not parse are left out.
    static ParTimes parse(const std::string& text);
    // Reads `folder`/par-times.txt; empty when there is none or it cannot be read.
    static ParTimes readFolder(const std::string& folder);

    // The par of the track file `file` (no folder) whose content has
    // `digest`; -1 when the index has none for it.
    int32_t parFor(const std::string& file, uint64_t digest) const;
    size_t size() const { return byFile.size(); }
    // Every entry, in file-name order.
    std::vector<ParTime> entries() const;

private:
    std::unordered_map<std::string, ParTime> byFile;
};

// The index as text, header first, one line per entry in the given order.
std::string formatParTimes(const std::vector<ParTime>& entries);
// Writes the index whole or not at all (a new file renamed over `path`).
bool writeParTimes(const std::string& path, const std::vector<ParTime>& entries);

enum class Medal { None, Bronze, Silver, Gold };

// The medal of a finish in `steps` on a track whose par is `parSteps`
// (-1: no par). A negative `steps` (no finish) wins none.
Medal medalFor(int32_t steps, int32_t parSteps);
// "gold", "silver", "bronze", or "" for none.
const char* medalName(Medal medal);

// A run time in days as whole physics steps; -1 for "no time" (-1, a
// negative, non-finite or absurdly large value).
int32_t stepsOfRunTime(double days);
