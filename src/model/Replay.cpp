// Replays: text form, files, and the track digest.
#include "model/Replay.h"

#include "model/FileAccess.h"
#include "model/RunTime.h"

#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#ifdef _WIN32
#include "model/FileSeam.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kVersionLine = "# velto replay ";
constexpr const char* kTrackLine = "# track: ";
constexpr const char* kDigestLine = "# digest: ";
constexpr const char* kResultLine = "# result: ";
constexpr const char* kClosingLine = "# end";

// The next line of `text` from `pos`, without its line end (LF or CRLF).
bool nextLine(const std::string& text, size_t& pos, std::string& line)
{
    if (pos >= text.size()) {
        return false;
    }
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) {
        end = text.size();
    }
    line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    pos = end + 1;
    return true;
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A decimal number from 0 to INT32_MAX, digits only.
bool parseCount(const std::string& text, int32_t& value)
{
    if (text.empty() || text.size() > 10) {
        return false;
    }
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    if (v > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    value = static_cast<int32_t>(v);
    return true;
}

bool parseDigest(const std::string& text, uint64_t& digest)
{
    if (text.size() != 16) {
        return false;
    }
    uint64_t v = 0;
    for (char c : text) {
        int d = 0;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else {
            return false;
        }
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    digest = v;
    return true;
}

std::string digestText(uint64_t digest)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

std::string resultText(int32_t result, int32_t steps)
{
    return std::string(replayResultName(result)) + " steps: " + std::to_string(steps) +
           " time: " + formatRunTime(runTimeOfSteps(steps));
}

bool parseResult(const std::string& text, int32_t& result, int32_t& steps)
{
    const size_t space = text.find(' ');
    if (space == std::string::npos) {
        return false;
    }
    const std::string name = text.substr(0, space);
    if (name == "finished") {
        result = ReplayFinished;
    } else if (name == "crashed") {
        result = ReplayCrashed;
    } else if (name == "running") {
        result = ReplayRunning;
    } else {
        return false;
    }
    const std::string rest = text.substr(space + 1);
    if (!startsWith(rest, "steps: ")) {
        return false;
    }
    const size_t end = rest.find(' ', 7);
    if (end == std::string::npos || !parseCount(rest.substr(7, end - 7), steps)) {
        return false;
    }
    // The time is written for people; it must agree with the steps.
    return text == resultText(result, steps);
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

int hexValue(char c)
{
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

// "\xHH" at `i` of `text`.
bool escapeAt(const std::string& text, size_t i)
{
    return i + 3 < text.size() && text[i] == '\\' && text[i + 1] == 'x' && isHexDigit(text[i + 2]) &&
           isHexDigit(text[i + 3]);
}

// The track name as its header line holds it; see escapedTrackName.
std::string unescapedTrackName(const std::string& text)
{
    std::string name;
    name.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (escapeAt(text, i)) {
            name += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            name += text[i];
        }
    }
    return name;
}

#ifndef _WIN32
bool writeAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}
#endif

} // namespace

std::string escapedTrackName(const std::string& name)
{
    std::string text;
    text.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte == 0x7f || escapeAt(name, i)) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            text += escape;
        } else {
            text += name[i];
        }
    }
    return text;
}

const char* replayResultName(int32_t result)
{
    switch (result) {
    case ReplayFinished: return "finished";
    case ReplayCrashed: return "crashed";
    default: return "running";
    }
}

std::string formatReplay(const Replay& replay)
{
    std::string text;
    text.reserve(128 + replay.changes.size() * 10);
    text += kVersionLine + std::to_string(kReplayVersion) + '\n';
    text += kTrackLine + escapedTrackName(replay.trackName) + '\n';
    text += kDigestLine + digestText(replay.digest) + '\n';
    text += kResultLine + resultText(replay.result, replay.steps) + '\n';
    for (const KeyChange& change : replay.changes) {
        text += keyScriptLine(change);
        text += '\n';
    }
    text += kClosingLine;
    text += '\n';
    return text;
}

ReplayReadError parseReplayText(const std::string& text, Replay& replay, std::string& error)
{
    replay = Replay{};
    size_t pos = 0;
    std::string line;
    int32_t version = 0;
    if (!nextLine(text, pos, line) || !startsWith(line, kVersionLine) ||
        !parseCount(line.substr(std::strlen(kVersionLine)), version)) {
        error = "line 1: not a replay (expected '" + std::string(kVersionLine) + "N')";
        return ReplayReadError::Malformed;
    }
    if (version != kReplayVersion && version != kEarlierPhysicsReplayVersion) {
        error = "line 1: replay version " + std::to_string(version) + " is not " +
                std::to_string(kReplayVersion);
        return ReplayReadError::Malformed;
    }
    if (!nextLine(text, pos, line) || !startsWith(line, kTrackLine) ||
        line.size() == std::strlen(kTrackLine)) {
        error = "line 2: expected '" + std::string(kTrackLine) + "NAME'";
        return ReplayReadError::Malformed;
    }
    replay.trackName = unescapedTrackName(line.substr(std::strlen(kTrackLine)));
    if (!nextLine(text, pos, line) || !startsWith(line, kDigestLine) ||
        !parseDigest(line.substr(std::strlen(kDigestLine)), replay.digest)) {
        error = "line 3: expected '" + std::string(kDigestLine) + "' and 16 hex digits";
        return ReplayReadError::Malformed;
    }
    if (!nextLine(text, pos, line) || !startsWith(line, kResultLine) ||
        !parseResult(line.substr(std::strlen(kResultLine)), replay.result, replay.steps)) {
        error = "line 4: expected '" + std::string(kResultLine) + "RESULT steps: N time: MM:SS:HH'";
        return ReplayReadError::Malformed;
    }
    if (version == kEarlierPhysicsReplayVersion) {
        error = kEarlierPhysicsText;
        return ReplayReadError::EarlierPhysics;
    }
    // The closing line and its line end end the text; nothing follows them.
    size_t closing = std::string::npos;
    for (const char* end : {"\n", "\r\n"}) {
        const std::string tail = "\n" + std::string(kClosingLine) + end;
        if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
            closing = text.size() - tail.size() + 1;
        }
    }
    if (closing == std::string::npos || closing < pos) {
        error = "the replay does not end with its closing line '" + std::string(kClosingLine) +
                "': it is cut short or has text after it";
        replay.changes.clear();
        return ReplayReadError::Malformed;
    }
    if (!parseKeyScript(text.substr(0, closing), replay.changes, error)) {
        return ReplayReadError::Malformed;
    }
    if (!replay.changes.empty() &&
        replay.changes.back().step >= static_cast<uint64_t>(std::max<int32_t>(replay.steps, 1))) {
        error = "a key change at step " + std::to_string(replay.changes.back().step) +
                " lies beyond the run's " + std::to_string(replay.steps) + " steps";
        return ReplayReadError::Malformed;
    }
    return ReplayReadError::None;
}

bool parseReplay(const std::string& text, Replay& replay, std::string& error)
{
    return parseReplayText(text, replay, error) == ReplayReadError::None;
}

ReplayReadError readReplayFile(const std::string& path, Replay& replay, std::string& error)
{
    replay = Replay{};
    std::string text;
    switch (readBoundedFile(path, kMaxReplayBytes, text, error)) {
    case FileReadError::None: break;
    case FileReadError::Missing: return ReplayReadError::Missing;
    case FileReadError::Unreadable: return ReplayReadError::Unreadable;
    case FileReadError::TooLarge: return ReplayReadError::TooLarge;
    }
    return parseReplayText(text, replay, error);
}

#ifdef _WIN32
bool writeReplayFile(const std::string& path, const Replay& replay)
{
    return !path.empty() && fileseam::replaceFileWith(path, formatReplay(replay));
}
#else
bool writeReplayFile(const std::string& path, const Replay& replay)
{
    if (path.empty()) {
        return false;
    }
    const std::string text = formatReplay(replay);
    // The new file's name is short whatever the target's: a name as long as
    // the folder allows could take no suffix.
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath = folder + ".velto-replay-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, text);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
    }
    return ok;
}
#endif

bool trackDigestOf(std::FILE* file, uint64_t& digest)
{
    if (file == nullptr) {
        return false;
    }
    XXH3_state_t* state = XXH3_createState();
    bool ok = state != nullptr && XXH3_64bits_reset(state) == XXH_OK;
    unsigned char buffer[1 << 14];
    size_t skip = 8;   // the best time
    while (ok) {
        const size_t n = std::fread(buffer, 1, sizeof buffer, file);
        const size_t skipped = std::min(skip, n);
        skip -= skipped;
        if (n > skipped) {
            ok = XXH3_64bits_update(state, buffer + skipped, n - skipped) == XXH_OK;
        }
        if (n < sizeof buffer) {
            ok = ok && !std::ferror(file);
            break;
        }
    }
    ok = ok && skip == 0;
    if (ok) {
        digest = XXH3_64bits_digest(state);
    }
    XXH3_freeState(state);
    return ok;
}

bool trackDigest(const std::string& path, uint64_t& digest)
{
    std::FILE* file = openRegularStream(path);
    if (file == nullptr) {
        return false;
    }
    const bool ok = trackDigestOf(file, digest);
    std::fclose(file);
    return ok;
}

std::string fileNameOf(const std::string& path)
{
#ifdef _WIN32
    const size_t slash = path.find_last_of("/\\");
#else
    const size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

std::string besideTrack(const std::string& trackPath, const std::string& suffix)
{
    const size_t slash = trackPath.find_last_of('/');
    const size_t dot = trackPath.find_last_of('.');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t nameEnd = dot != std::string::npos && dot > nameStart ? dot : trackPath.size();
    const std::string stem = trackPath.substr(nameStart, nameEnd - nameStart);
    if (stem.size() + suffix.size() <= kMaxFileNameBytes) {
        return trackPath.substr(0, nameEnd) + suffix;
    }
    // Too long a name for the suffix: the stem is cut (at a character's
    // start) and told apart from others cut alike by a hash of all of it.
    std::string tag = "~";
    tag += digestText(XXH3_64bits(stem.data(), stem.size()));
    size_t keep = kMaxFileNameBytes - suffix.size() - tag.size();
    while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xc0) == 0x80) {
        --keep;
    }
    return trackPath.substr(0, nameStart) + stem.substr(0, keep) + tag + suffix;
}

} // namespace

std::string bestReplayPath(const std::string& trackPath)
{
    return besideTrack(trackPath, ".replay");
}

std::string demoReplayPath(const std::string& trackPath)
{
    return besideTrack(trackPath, ".demo");
}
