// ANSI-to-wide conversion of the movie path handed to the graph builder.
#ifndef FERNWOODVIEW_WIDE_PATH_H
#define FERNWOODVIEW_WIDE_PATH_H

#include <windows.h>

// Raised by the conversion; carries the HRESULT of what failed.
struct HresultError {
    HRESULT hr;
};

// Holds up to 128 wide characters in place and moves to the heap beyond that.
class WidePath {
public:
    WidePath() = default;
    WidePath(const WidePath&) = delete;
    WidePath& operator=(const WidePath&) = delete;
    ~WidePath();

    // Converts with the thread's ANSI code page; throws HresultError.
    const wchar_t* Convert(const char* ansi);
    bool OnHeap() const { return heap_ != nullptr; }

private:
    static constexpr int kInPlace = 128;
    wchar_t* Reserve(int count);

    wchar_t in_place_[kInPlace] = {};
    wchar_t* heap_ = nullptr;
    int heap_count_ = 0;
};

#endif
