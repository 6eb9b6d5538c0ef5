#include "stream_writer.h"

#include <new>

#include "testbed/common/pin.h"

namespace testcard_test {

class StreamWriterPin : public testbed::InputPin, public IStream {
 public:
  explicit StreamWriterPin(StreamWriter& writer) : InputPin(writer, L"in"), writer_(writer) {}
  TESTBED_PIN_IUNKNOWN

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
    return IsEqualGUID(mt.majortype, MEDIATYPE_Stream) ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }

  STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP Write(const void* data, ULONG size, ULONG* written) override {
    DWORD done = 0;
    BOOL ok = WriteFile(writer_.File(), data, size, &done, nullptr);
    if (written) *written = done;
    return ok && done == size ? S_OK : STG_E_WRITEFAULT;
  }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
    LARGE_INTEGER now;
    if (!SetFilePointerEx(writer_.File(), move, &now, origin)) return STG_E_SEEKERROR;
    if (position) position->QuadPart = static_cast<ULONGLONG>(now.QuadPart);
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 protected:
  void* Interface(REFIID iid) override {
    if (IsEqualGUID(iid, IID_IStream) || IsEqualGUID(iid, IID_ISequentialStream))
      return static_cast<IStream*>(this);
    return InputPin::Interface(iid);
  }

  // Samples carry their byte offset in the file as their start time.
  HRESULT OnReceive(IMediaSample* sample) override {
    REFERENCE_TIME start = 0, stop = 0;
    BYTE* data = nullptr;
    if (FAILED(sample->GetTime(&start, &stop)) || FAILED(sample->GetPointer(&data)))
      return E_FAIL;
    LARGE_INTEGER at;
    at.QuadPart = start;
    HRESULT hr = Seek(at, FILE_BEGIN, nullptr);
    return SUCCEEDED(hr) ? Write(data, sample->GetActualDataLength(), nullptr) : hr;
  }

 private:
  StreamWriter& writer_;
};

StreamWriter::StreamWriter() : Filter(GUID_NULL), pin_(new StreamWriterPin(*this)) {}

StreamWriter::~StreamWriter() {
  CloseFile();
  delete pin_;
}

void* StreamWriter::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IFileSinkFilter)) return static_cast<IFileSinkFilter*>(this);
  return Filter::Interface(iid);
}

testbed::Pin* StreamWriter::PinAt(unsigned index) { return index == 0 ? pin_ : nullptr; }

STDMETHODIMP StreamWriter::SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) {
  if (!name) return E_POINTER;
  name_ = name;
  return S_OK;
}

STDMETHODIMP StreamWriter::GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) {
  if (!name) return E_POINTER;
  size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
  *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (!*name) return E_OUTOFMEMORY;
  CopyMemory(*name, name_.c_str(), bytes);
  if (mt) *mt = AM_MEDIA_TYPE();
  return S_OK;
}

HRESULT StreamWriter::InitStream() {
  CloseFile();
  file_ = CreateFileW(name_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  return file_ == INVALID_HANDLE_VALUE ? HRESULT_FROM_WIN32(GetLastError()) : S_OK;
}

void StreamWriter::CloseFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

}  // namespace testcard_test
