#include "record/wide_path.h"

#include <cstring>

WidePath::~WidePath()
{
    if (heap_)
        HeapFree(GetProcessHeap(), 0, heap_);
}

wchar_t* WidePath::Reserve(int count)
{
    if (count < 0)
        throw HresultError{E_INVALIDARG};
    if (count <= kInPlace) {
        if (heap_)
            HeapFree(GetProcessHeap(), 0, heap_);
        heap_ = nullptr;
        heap_count_ = 0;
        return in_place_;
    }
    SIZE_T bytes = static_cast<SIZE_T>(count) * sizeof(wchar_t);
    void* grown = heap_ ? HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, heap_, bytes)
                        : HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
    if (!grown)
        throw HresultError{E_OUTOFMEMORY};
    heap_ = static_cast<wchar_t*>(grown);
    heap_count_ = count;
    return heap_;
}

static HRESULT LastErrorResult()
{
    DWORD error = GetLastError();
    return static_cast<LONG>(error) > 0 ? HRESULT_FROM_WIN32(error) : static_cast<HRESULT>(error);
}

const wchar_t* WidePath::Convert(const char* ansi)
{
    if (!ansi)
        throw HresultError{E_INVALIDARG};
    int count = static_cast<int>(std::strlen(ansi)) + 1;
    wchar_t* buffer = Reserve(count);
    if (MultiByteToWideChar(CP_ACP, 0, ansi, count, buffer, count) > 0)
        return buffer;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        throw HresultError{LastErrorResult()};
    int needed = MultiByteToWideChar(CP_ACP, 0, ansi, count, nullptr, 0);
    buffer = Reserve(needed);
    if (MultiByteToWideChar(CP_ACP, 0, ansi, count, buffer, needed) <= 0)
        throw HresultError{LastErrorResult()};
    return buffer;
}
