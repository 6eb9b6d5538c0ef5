// Writes the byte stream of a multiplexer to one file: through IStream on
// the input pin (seekable writes, as the AVI Mux uses them) or as samples
// whose times are byte offsets. The file is created when a connected writer
// is paused and closed once stopped and the multiplexer has let go of the
// stream, so the header it writes while stopping still lands.
//
// Each write goes straight to WriteFile, with no buffer of our own: the File
// Writer Filter reference says the platform's writer puts on disk what its
// pin receives (unbuffered, where it can), so what a killed process leaves
// in the file is every write the multiplexer had made.
//
// End of stream becomes EC_COMPLETE only while the graph runs, as the
// platform's File Writer does (Wine's qcap file writer tests, run on Windows): one that arrives while paused waits for Run, one
// that arrives while stopped is dropped. A test may make the disk fill up
// (FailAfterBytes under HKCU\Software\FernwoodTestbed\FileWriter).
#include "file_writer.h"
#include "standins_module.h"

#include "testbed/common/filter.h"
#include "testbed/common/pin.h"

#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace fernwood {
namespace {

// The size at which this test machine's disk is full; 0 for never.
uint64_t ConfiguredDiskLimit() {
    uint64_t limit = 0;
    DWORD bytes = sizeof limit;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\FernwoodTestbed\\FileWriter", L"FailAfterBytes",
                     RRF_RT_REG_DWORD | RRF_RT_REG_QWORD, nullptr, &limit, &bytes) != ERROR_SUCCESS)
        return 0;
    return limit;
}

// The open file, shared by the streaming thread and state changes.
class OutputFile {
public:
    explicit OutputFile(uint64_t limit) : limit_(limit) {}
    ~OutputFile() { Close(); }

    HRESULT Create(const std::wstring& name) {
        std::lock_guard<std::mutex> hold(lock_);
        CloseLocked();
        file_ = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        return file_ == INVALID_HANDLE_VALUE ? HRESULT_FROM_WIN32(GetLastError()) : S_OK;
    }
    void Close() {
        std::lock_guard<std::mutex> hold(lock_);
        CloseLocked();
    }
    bool IsOpen() {
        std::lock_guard<std::mutex> hold(lock_);
        return file_ != INVALID_HANDLE_VALUE;
    }
    // Writes at offset, or at the current position when offset is negative.
    // Past a full disk's limit only the bytes before it are written.
    HRESULT Write(const void* data, ULONG size, LONGLONG offset, ULONG* written) {
        std::lock_guard<std::mutex> hold(lock_);
        if (written) *written = 0;
        if (file_ == INVALID_HANDLE_VALUE) return E_UNEXPECTED;
        LARGE_INTEGER at, position;
        at.QuadPart = offset >= 0 ? offset : 0;
        if (!SetFilePointerEx(file_, at, &position, offset >= 0 ? FILE_BEGIN : FILE_CURRENT))
            return HRESULT_FROM_WIN32(GetLastError());
        const ULONG room = Room(static_cast<uint64_t>(position.QuadPart), size);
        DWORD done = 0;
        if (room && !WriteFile(file_, data, room, &done, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
        if (written) *written = done;
        if (room < size) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        return done == size ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT Seek(LONGLONG move, DWORD origin, ULARGE_INTEGER* position) {
        std::lock_guard<std::mutex> hold(lock_);
        if (file_ == INVALID_HANDLE_VALUE) return E_UNEXPECTED;
        if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
        LARGE_INTEGER by, now;
        by.QuadPart = move;
        if (!SetFilePointerEx(file_, by, &now, origin)) return STG_E_INVALIDPOINTER;
        if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
        return S_OK;
    }
    HRESULT Size(ULARGE_INTEGER* size) {
        std::lock_guard<std::mutex> hold(lock_);
        LARGE_INTEGER s;
        if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &s)) return E_UNEXPECTED;
        size->QuadPart = static_cast<ULONGLONG>(s.QuadPart);
        return S_OK;
    }

private:
    void CloseLocked() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }
    ULONG Room(uint64_t position, ULONG size) const {
        if (limit_ == 0) return size;
        return position >= limit_ ? 0 : static_cast<ULONG>(std::min<uint64_t>(size, limit_ - position));
    }

    const uint64_t limit_;
    std::mutex lock_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

class FileWriter;

// IStream of the input pin, counted apart so that the writer sees when the
// multiplexer is done with it.
class PinStream final : public IStream {
public:
    PinStream(IPin& pin, FileWriter& writer, OutputFile& file) : pin_(pin), writer_(writer), file_(file) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return pin_.QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Write(const void* data, ULONG size, ULONG* written) override {
        if (!data) return STG_E_INVALIDPOINTER;
        return file_.Write(data, size, -1, written);
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return file_.Seek(move.QuadPart, origin, position);
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        return file_.Size(&stat->cbSize);
    }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

    ULONG Outstanding() const { return refs_; }

private:
    IPin& pin_;
    FileWriter& writer_;
    OutputFile& file_;
    std::atomic<ULONG> refs_{0};
};

class WriterInput final : public testbed::InputPin {
public:
    WriterInput(testbed::Filter& filter, FileWriter& writer, OutputFile& file)
        : InputPin(filter, L"in"), stream_(*this, writer, file), file_(file) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (out && IsEqualGUID(iid, IID_IStream)) {
            *out = static_cast<IStream*>(&stream_);
            stream_.AddRef();
            return S_OK;
        }
        return InputPin::QueryInterface(iid, out);
    }

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return IsEqualGUID(mt.majortype, MEDIATYPE_Stream) ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    STDMETHODIMP BeginFlush() override;
    const PinStream& Stream() const { return stream_; }

protected:
    // Sample times carry the byte offsets of the data.
    HRESULT OnReceive(IMediaSample* sample) override {
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr)) return hr;
        REFERENCE_TIME start = -1, stop = -1;
        if (sample->GetTime(&start, &stop) != S_OK || start < 0) start = -1;
        return file_.Write(data, static_cast<ULONG>(sample->GetActualDataLength()), start, nullptr);
    }
    HRESULT OnEndOfStream() override;

private:
    PinStream stream_;
    OutputFile& file_;
};

// {8596E5F0-0DA5-11D0-BD21-00A0C911CE86}, as the platform names it.
class FileWriter final : public testbed::Filter, public IFileSinkFilter, public IAMFilterMiscFlags {
public:
    FileWriter() : Filter(CLSID_FileWriter), file_(ConfiguredDiskLimit()), input_(*this, *this, file_) {}
    TESTBED_IUNKNOWN

    testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &input_ : nullptr; }

    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
        if (!name) return E_POINTER;
        std::lock_guard<std::recursive_mutex> hold(Lock());
        if (CurrentState() != State_Stopped) return VFW_E_WRONG_STATE;
        name_ = name;
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override {
        if (!name) return E_POINTER;
        std::lock_guard<std::recursive_mutex> hold(Lock());
        *name = nullptr;
        if (mt) *mt = AM_MEDIA_TYPE{};
        if (name_.empty()) return E_FAIL;
        const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
        *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*name) return E_OUTOFMEMORY;
        std::memcpy(*name, name_.c_str(), bytes);
        if (mt) mt->majortype = MEDIATYPE_Stream;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // The multiplexer dropped its last stream reference.
    void StreamReleased() {
        std::lock_guard<std::recursive_mutex> hold(Lock());
        if (CurrentState() == State_Stopped) file_.Close();
    }
    void EndOfStream() {
        std::lock_guard<std::recursive_mutex> hold(Lock());
        const FILTER_STATE state = CurrentState();
        if (state == State_Running)
            Complete();
        else
            end_of_stream_ = state == State_Paused;
    }
    void Flushing() {
        std::lock_guard<std::recursive_mutex> hold(Lock());
        end_of_stream_ = false;
    }

protected:
    void* Interface(REFIID iid) override {
        if (IsEqualGUID(iid, IID_IFileSinkFilter)) return static_cast<IFileSinkFilter*>(this);
        if (IsEqualGUID(iid, IID_IAMFilterMiscFlags)) return static_cast<IAMFilterMiscFlags*>(this);
        return Filter::Interface(iid);
    }
    // An unconnected writer leaves files alone: old writers may stay in a
    // graph that runs again.
    HRESULT InitStream() override {
        end_of_stream_ = false;
        file_.Close();
        if (!input_.IsConnected()) return S_OK;
        if (name_.empty()) return E_FAIL;
        return file_.Create(name_);
    }
    HRESULT StartStream(REFERENCE_TIME) override {
        if (end_of_stream_) Complete();
        end_of_stream_ = false;
        return S_OK;
    }
    HRESULT CleanupStream() override {
        end_of_stream_ = false;
        if (input_.Stream().Outstanding() == 0) file_.Close();
        return S_OK;
    }

private:
    template <typename T>
    using ComPtr = testbed::ComPtr<T>;

    void Complete() {
        ComPtr<IMediaEventSink> events;
        IFilterGraph* graph = Graph();
        if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, events.PutVoid())))
            events->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    }

    OutputFile file_;
    WriterInput input_;
    std::wstring name_;
    bool end_of_stream_ = false;  // received while paused; guarded by the filter lock
};

STDMETHODIMP_(ULONG) PinStream::AddRef() {
    ++refs_;
    return pin_.AddRef();
}

STDMETHODIMP_(ULONG) PinStream::Release() {
    if (--refs_ == 0) writer_.StreamReleased();
    return pin_.Release();
}

HRESULT WriterInput::OnEndOfStream() {
    static_cast<FileWriter&>(Owner()).EndOfStream();
    return S_OK;
}

STDMETHODIMP WriterInput::BeginFlush() {
    static_cast<FileWriter&>(Owner()).Flushing();
    return InputPin::BeginFlush();
}

}  // namespace

HRESULT CreateFileWriter(REFIID iid, void** out) { return CreateObject<FileWriter>(iid, out); }

}  // namespace fernwood
