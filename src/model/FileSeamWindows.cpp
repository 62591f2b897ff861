// The core's file code on Windows (model/FileSeam.h). Empty elsewhere.
#include "model/FileSeam.h"

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace fileseam {
namespace {

std::wstring widePath(const std::string& path)
{
    if (path.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                                      nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), wide.data(),
                        n);
    return wide;
}

bool writeAll(HANDLE file, const unsigned char* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(size - done > (DWORD{1} << 30) ? (DWORD{1} << 30) : size - done);
        DWORD written = 0;
        if (!WriteFile(file, bytes + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

bool replaceFileWith(const std::string& path, const std::string& bytes)
{
    const std::wstring target = widePath(path);
    if (target.empty()) {
        return false;
    }
    const std::wstring temp = target + L".velto-save";
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = writeAll(file, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (ok) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ok = false;
        } else if (attributes != INVALID_FILE_ATTRIBUTES) {
            ok = ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                              nullptr) ||
                 MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        } else {
            ok = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        }
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
    }
    return ok;
}

bool overwriteFileStart(const std::string& path, const unsigned char* bytes, size_t size)
{
    const std::wstring target = widePath(path);
    if (target.empty()) {
        return false;
    }
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = writeAll(file, bytes, size) && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    return ok;
}

ReadStatus readFileUpTo(const std::string& path, size_t limit, std::string& text, std::string& error)
{
    text.clear();
    const std::wstring wide = widePath(path);
    HANDLE file = wide.empty() ? INVALID_HANDLE_VALUE
                               : CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        const bool missing = why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND;
        error = missing ? "no such file" : "cannot be opened";
        return missing ? ReadStatus::Missing : ReadStatus::Unreadable;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = "not a regular file";
        return ReadStatus::Unreadable;
    }
    char buffer[1 << 16];
    bool ok = true;
    while (text.size() < limit) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(limit - text.size() < sizeof buffer ? limit - text.size() : sizeof buffer);
        if (!ReadFile(file, buffer, want, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, got);
    }
    CloseHandle(file);
    if (!ok) {
        error = "read error";
        return ReadStatus::Unreadable;
    }
    return ReadStatus::Ok;
}

} // namespace fileseam

#endif
