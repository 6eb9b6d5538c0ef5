// A file writer for the recording chain test: one input pin that takes a
// byte stream (MEDIATYPE_Stream) either as samples stamped with byte
// offsets or through IStream on the pin, as multiplexers write. Used where
// the platform's File Writer offers no IStream on its pin (Wine 8).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>

#include "testbed/common/filter.h"

namespace testcard_test {

class StreamWriterPin;

class StreamWriter : public testbed::Filter, public IFileSinkFilter {
 public:
  StreamWriter();
  ~StreamWriter() override;
  TESTBED_IUNKNOWN

  STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override;

  testbed::Pin* PinAt(unsigned index) override;
  HANDLE File() { return file_; }

 protected:
  void* Interface(REFIID iid) override;
  HRESULT InitStream() override;

 private:
  // The file stays open after a stop: multiplexers write their headers
  // when they stop, which is after the writer downstream has stopped.
  void CloseFile();

  StreamWriterPin* pin_;
  std::wstring name_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace testcard_test
