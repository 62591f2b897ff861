// Helpers shared by the editor tests: track files as bytes, and the
// message boxes and file dialogs answered by the test.
#pragma once

#include "platform/FileDialogs.h"
#include "platform/MessageBox.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace editortest {

using Bytes = std::vector<unsigned char>;

inline void putDouble(Bytes& b, double v)
{
    unsigned char raw[8];
    std::memcpy(raw, &v, 8);
    b.insert(b.end(), raw, raw + 8);
}

inline void putInt(Bytes& b, int32_t v)
{
    unsigned char raw[4];
    std::memcpy(raw, &v, 4);
    b.insert(b.end(), raw, raw + 4);
}

struct Point {
    double x;
    double y;
    bool operator==(const Point&) const = default;
};

inline void PrintTo(const Point& p, std::ostream* os)
{
    *os << "(" << p.x << ", " << p.y << ")";
}

// The bytes of a track file.
inline Bytes trackBytes(double best, Point start, Point finish, const std::vector<std::vector<Point>>& polygons,
                        const std::vector<Point>& apples)
{
    Bytes b;
    putDouble(b, best);
    putDouble(b, start.x);
    putDouble(b, start.y);
    putDouble(b, finish.x);
    putDouble(b, finish.y);
    putInt(b, static_cast<int32_t>(polygons.size()));
    for (const auto& polygon : polygons) {
        putInt(b, static_cast<int32_t>(polygon.size()));
        for (const Point& p : polygon) {
            putDouble(b, p.x);
            putDouble(b, p.y);
        }
    }
    putInt(b, static_cast<int32_t>(apples.size()));
    for (const Point& p : apples) {
        putDouble(b, p.x);
        putDouble(b, p.y);
    }
    return b;
}

inline void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh, empty folder for one test.
inline std::string scratchFolder(const std::string& name)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velto-editor-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

struct Message {
    std::string text;
    std::string caption;
    unsigned flags;
};

// Answers message boxes from a queue (IDOK when the queue is empty) and
// file dialogs with a fixed path (cancelled when the path is empty), and
// records what was asked.
struct Answers {
    std::deque<int> boxAnswers;
    std::vector<Message> messages;
    std::string savePath;
    int saveDialogs = 0;
    std::string proposedName;

    void install()
    {
        setMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned flags) {
            messages.push_back({text, caption, flags});
            if (boxAnswers.empty()) {
                return static_cast<int>(IDOK);
            }
            const int answer = boxAnswers.front();
            boxAnswers.pop_front();
            return answer;
        });
        setFileDialogHandler([this](bool save, std::string& path) {
            if (!save) {
                return false;
            }
            ++saveDialogs;
            proposedName = path;
            if (savePath.empty()) {
                return false;
            }
            path = savePath;
            return true;
        });
    }

    static void uninstall()
    {
        setMessageBoxHandler(nullptr);
        setFileDialogHandler(nullptr);
    }

    std::vector<std::string> texts() const
    {
        std::vector<std::string> result;
        for (const Message& m : messages) {
            result.push_back(m.text);
        }
        return result;
    }
};

} // namespace editortest
