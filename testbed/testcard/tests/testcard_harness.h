// Helpers for the test card's tests beside the shared ones: a small sink
// filter that records what arrives, another program holding the card, the
// card's devices and graph events.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "testbed/common/com_ptr.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"
#include "testbed/testcard/video_types.h"
#include "testbed/tests_support/test_support.h"

namespace testcard_test {

using testbed::ComPtr;
using namespace fernwood::test;

// Runs a graph and stops it however the test ends: Wine's graph never
// finishes releasing filters that are left paused or running.
class GraphRun {
 public:
  explicit GraphRun(IGraphBuilder* graph) { graph->QueryInterface(IID_IMediaControl, control_.PutVoid()); }
  ~GraphRun() { Stop(); }
  HRESULT Start() { return control_ ? control_->Run() : E_NOINTERFACE; }
  HRESULT Stop() { return control_ ? control_->Stop() : E_NOINTERFACE; }

 private:
  ComPtr<IMediaControl> control_;
};

// What the sink saw of one sample.
struct Arrival {
  bool timed = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  // Stream time on the graph clock when the sample arrived.
  REFERENCE_TIME arrived = 0;
  bool discontinuity = false;
  long length = 0;
  bool numbered = false;
  uint32_t frame_number = 0;
  // Clicks in a buffer of 16-bit stereo PCM; -1 for other samples.
  int clicks = -1;
  DWORD thread = 0;  // the thread that called Receive
};

class SinkPin;

// One input pin of the given major type; records arrivals and decodes the
// frame number of test card pictures. It can keep samples, as a filter that
// queues them does, and ask for a number of buffers.
class SinkFilter : public testbed::Filter {
 public:
  explicit SinkFilter(REFGUID majortype);
  ~SinkFilter() override;

  testbed::Pin* PinAt(unsigned index) override;
  IPin* Input();

  // Waits (bounded) until `count` samples have arrived.
  bool WaitForSamples(size_t count, DWORD timeout_ms);
  std::vector<Arrival> Arrivals();

  // Keeps a reference to each of the next `count` samples that arrive.
  void HoldSamples(size_t count);
  // Gives the kept samples back to their allocator.
  void ReleaseHeld();
  // Receive waits from now until Unblock or the filter stops, as a renderer
  // busy over a frame does.
  void Block();
  void Unblock();
  // What the input pin's GetAllocatorRequirements answers (0: E_NOTIMPL).
  void AskForBuffers(long count) { wanted_buffers_ = count; }
  long WantedBuffers() const { return wanted_buffers_; }

  void Record(IMediaSample* sample);

 protected:
  HRESULT StartStream(REFERENCE_TIME start) override;
  HRESULT CleanupStream() override;

 private:
  SinkPin* pin_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable unblocked_;
  bool blocked_ = false;
  std::vector<Arrival> arrivals_;
  REFERENCE_TIME start_ = 0;
  size_t to_hold_ = 0;
  std::vector<ComPtr<IMediaSample>> held_;
  long wanted_buffers_ = 0;
};

ComPtr<SinkFilter> CreateSink(REFGUID majortype);

// Runs testcard_hold.exe (beside the test) on a video device: "another
// program holding the card". Start() waits until it runs or fails.
class HoldingProgram {
 public:
  explicit HoldingProgram(unsigned device);
  ~HoldingProgram();
  // True once it holds the device; false when its Run failed (or it did not start).
  bool Start();
  // Lets it stop the graph and exit; its exit code.
  DWORD Finish();
  void Kill();
  DWORD ExitCode();

 private:
  unsigned device_;
  std::wstring name_;
  HANDLE release_, running_, failed_;
  PROCESS_INFORMATION process_ = {};
};

// SetFormat with a UYVY VIDEOINFOHEADER type of that size and rate, made
// from nothing the card handed out.
HRESULT SetUyvyFormat(IAMStreamConfig* config, int width, int height, REFERENCE_TIME interval);

// A device of the test card as the system device enumerator lists it.
struct ListedDevice {
  std::wstring name;
  std::wstring path;  // its DevicePath; empty when the property bag has none
  ComPtr<IMoniker> moniker;
};

// The category's devices that belong to the test card, in enumeration order.
std::vector<ListedDevice> ListDevices(REFCLSID category);

// Whether binding a moniker failed as for an unplugged device: the card's
// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), or ERROR_FILE_NOT_FOUND
// when the device enumerator finds the moniker's entry gone before it asks
// the card (Wine's does).
bool FailedAsUnplugged(HRESULT hr);

// Waits (bounded) for the graph to pass on an event with this code.
bool WaitForEvent(IGraphBuilder* graph, long code, DWORD timeout_ms, LONG_PTR* param1,
                  LONG_PTR* param2);

}  // namespace testcard_test
