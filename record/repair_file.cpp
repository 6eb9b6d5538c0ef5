#include "record/repair_file.h"

#include <windows.h>

#include <string>

namespace {

// Reads and writes at absolute offsets, in pieces a DWORD can count.
class Win32File : public RepairFile {
public:
    explicit Win32File(HANDLE file) : file_(file) {}

    uint64_t Size() override
    {
        LARGE_INTEGER size;
        return GetFileSizeEx(file_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    bool ReadAt(uint64_t offset, void* data, size_t size) override
    {
        char* at = static_cast<char*>(data);
        while (size) {
            DWORD piece = static_cast<DWORD>(size < kPiece ? size : kPiece), done = 0;
            if (!Seek(offset) || !ReadFile(file_, at, piece, &done, nullptr) || done != piece)
                return false;
            at += piece, offset += piece, size -= piece;
        }
        return true;
    }
    bool WriteAt(uint64_t offset, const void* data, size_t size) override
    {
        const char* at = static_cast<const char*>(data);
        while (size) {
            DWORD piece = static_cast<DWORD>(size < kPiece ? size : kPiece), done = 0;
            if (!Seek(offset) || !WriteFile(file_, at, piece, &done, nullptr) || done != piece)
                return false;
            at += piece, offset += piece, size -= piece;
        }
        return true;
    }
    bool Truncate(uint64_t size) override { return Seek(size) && SetEndOfFile(file_); }

private:
    static constexpr size_t kPiece = size_t{1} << 30;

    bool Seek(uint64_t offset)
    {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != FALSE;
    }

    HANDLE file_;
};

}  // namespace

bool WriteJournalFile(const char* path, const RecordingJournal& journal)
{
    const std::string text = FormatJournal(journal);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok)
        DeleteFileA(path);
    return ok;
}

bool ReadJournalFile(const char* path, RecordingJournal* journal)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    // A journal is a few hundred bytes; anything large is not one.
    char text[64 * 1024];
    DWORD read = 0;
    bool ok = ReadFile(file, text, sizeof text, &read, nullptr) && read < sizeof text;
    CloseHandle(file);
    return ok && ParseJournal(std::string(text, read), journal);
}

RepairResult RepairMovieFile(const char* path, const std::vector<JournalStream>& streams)
{
    RepairResult result;
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result.outcome = RepairOutcome::kFailed;
        return result;
    }
    Win32File file(handle);
    result = RepairRecording(file, streams);
    if (result.outcome == RepairOutcome::kRepaired && !FlushFileBuffers(handle))
        result.outcome = RepairOutcome::kFailed;
    CloseHandle(handle);
    return result;
}

bool ReadMovieHeaderStreams(const char* path, std::vector<JournalStream>* streams)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Win32File file(handle);
    const bool ok = StreamsFromHeader(file, streams);
    CloseHandle(handle);
    return ok;
}
