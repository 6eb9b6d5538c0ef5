// A recording chain of the viewer's parts: the card's capture pin and the
// audio source into the platform's AVI multiplexer, interleaving as the
// viewer has it interleave while recording, and its file writer. The
// first test records and notes what it recorded in testcard_chain.txt;
// check-recording then inspects the file with ffprobe and decodes its
// frames; the second test reads the frame numbers back.
#include <windows.h>
#include <mmreg.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testbed/common/media_type.h"
#include "testbed/testcard/portable/test_pattern.h"
#include "testbed/testcard/testcard_ids.h"
#include "testbed/testcard/testcard_setup.h"
#include "testcard_harness.h"

namespace testcard_test {
namespace {

const wchar_t kMovie[] = L"testcard_chain.avi";
const char kMovieName[] = "testcard_chain.avi";
const char kRecordLog[] = "testcard_chain.txt";
// Written by check-recording: the movie's frames scaled to 320x180 RGB32, top-down.
const char kFrames[] = "testcard_chain.raw";
const int kFrameWidth = 320, kFrameHeight = 180;
// Three seconds at 59.94 frames per second.
const long kFramesToRecord = 180;

ComPtr<IPin> FreeInput(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  if (FAILED(filter->EnumPins(pins.Put()))) return {};
  while (pins->Next(1, pin.Put(), nullptr) == S_OK) {
    PIN_DIRECTION dir;
    ComPtr<IPin> peer;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_INPUT &&
        pin->ConnectedTo(peer.Put()) == VFW_E_NOT_CONNECTED)
      return pin;
  }
  return {};
}

HRESULT SetAudioRate(IPin* pin, DWORD rate) {
  ComPtr<IAMStreamConfig> config;
  AM_MEDIA_TYPE* mt = nullptr;
  HRESULT hr = ComPtr<IPin>(pin).As(&config);
  if (SUCCEEDED(hr)) hr = config->GetFormat(&mt);
  if (FAILED(hr)) return hr;
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
  wfx->nSamplesPerSec = rate;
  wfx->nAvgBytesPerSec = rate * 4;
  hr = config->SetFormat(mt);
  testbed::DeleteMediaType(mt);
  return hr;
}

TEST(ChainTest, RecordsCardAndAudioThroughAviMux) {
  ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  {
    // A few lost frames, so that the file's timeline has gaps to keep.
    testcard::TestCardSetup setup;
    ASSERT_TRUE(setup.SetText(setup.Video(0), L"DropFrames", L"50, 51, 100"));
    ComPtr<IGraphBuilder> graph = CreateGraph();
    ComPtr<IBaseFilter> card = CreateFilter(testcard::CLSID_TestCardVideo);
    ComPtr<IBaseFilter> audio = CreateFilter(testcard::CLSID_TestCardAudio);
    ComPtr<IBaseFilter> mux = CreateFilter(CLSID_AviDest);
    ComPtr<IBaseFilter> writer = CreateFilter(CLSID_FileWriter);
    ASSERT_TRUE(graph && card && audio && mux && writer);
    ASSERT_EQ(S_OK, graph->AddFilter(card.Get(), L"キャプチャデバイス"));
    ASSERT_EQ(S_OK, graph->AddFilter(audio.Get(), L"オーディオデバイス"));
    ASSERT_EQ(S_OK, graph->AddFilter(mux.Get(), L"AVI Mux"));
    ASSERT_EQ(S_OK, graph->AddFilter(writer.Get(), L"File Writer"));

    ComPtr<IConfigInterleaving> interleaving;
    ASSERT_EQ(S_OK, mux.As(&interleaving));
    ASSERT_EQ(S_OK, interleaving->put_Mode(INTERLEAVE_CAPTURE));

    wchar_t path[MAX_PATH];
    ASSERT_GT(GetFullPathNameW(kMovie, MAX_PATH, path, nullptr), 0u);
    DeleteFileW(path);
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, writer.As(&sink));
    ASSERT_EQ(S_OK, sink->SetFileName(path, nullptr));

    ComPtr<IPin> capture = Named(card.Get(), L"Capture");
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, capture.As(&config));
    ASSERT_EQ(S_OK, SetUyvyFormat(config.Get(), 1280, 720, 166833));
    ComPtr<IPin> audio_out = PinAt(audio.Get(), 0);
    ASSERT_EQ(S_OK, SetAudioRate(audio_out.Get(), 48000));
    // Multiplexer to writer first, as ICaptureGraphBuilder2::SetOutputFileName
    // leaves them.
    ASSERT_EQ(S_OK, graph->Connect(PinAt(mux.Get(), 0).Get(), FreeInput(writer.Get()).Get()));
    ASSERT_EQ(S_OK, graph->ConnectDirect(capture.Get(), FreeInput(mux.Get()).Get(), nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(audio_out.Get(), FreeInput(mux.Get()).Get(), nullptr));

    GraphRun run(graph.Get());
    ComPtr<IAMDroppedFrames> dropped;
    ASSERT_EQ(S_OK, card.As(&dropped));
    ASSERT_EQ(S_OK, run.Start());
    long kept = 0, lost = 0;
    for (int i = 0; i < 600 && kept + lost < kFramesToRecord; ++i) {
      Sleep(50);  // polling the card's counters, bounded at 30 s
      dropped->GetNumNotDropped(&kept);
      dropped->GetNumDropped(&lost);
    }
    ASSERT_EQ(S_OK, run.Stop());
    ASSERT_GE(kept + lost, kFramesToRecord);
    ASSERT_GE(lost, 3);

    ASSERT_EQ(S_OK, dropped->GetNumNotDropped(&kept));
    ASSERT_EQ(S_OK, dropped->GetNumDropped(&lost));
    std::vector<long> numbers(lost > 0 ? lost : 1);
    long copied = 0;
    ASSERT_EQ(S_OK, dropped->GetDroppedInfo(static_cast<long>(numbers.size()), numbers.data(), &copied));
    std::ofstream log(kRecordLog);
    log << "delivered " << kept << "\ndropped";
    for (long i = 0; i < copied; ++i) log << ' ' << numbers[i];
    log << "\naudio 48000\n";
    std::printf("recorded %ld frames, %ld lost\n", kept, lost);
  }
  CoUninitialize();
}

struct RecordLog {
  long delivered = -1;
  std::vector<uint32_t> dropped;
};

RecordLog ReadRecordLog() {
  RecordLog log;
  std::ifstream in(kRecordLog);
  std::string word, line;
  in >> word >> log.delivered;
  std::getline(in, line);
  std::getline(in, line);
  std::istringstream dropped(line);
  dropped >> word;
  uint32_t n;
  while (dropped >> n) log.dropped.push_back(n);
  return log;
}

TEST(ChainTest, RecordedFramesFollowEachOther) {
  RecordLog log = ReadRecordLog();
  ASSERT_GT(log.delivered, 0) << "no record of the recording; run the whole chain";
  const testcard::FrameLayout layout = {testcard::PixelFormat::kRgb32, kFrameWidth, kFrameHeight,
                                        false};
  const size_t frame_bytes = testcard::FrameBytes(layout);
  std::ifstream in(kFrames, std::ios::binary);
  ASSERT_TRUE(in.good());
  std::vector<uint8_t> frame(frame_bytes);
  std::vector<uint32_t> numbers;
  while (in.read(reinterpret_cast<char*>(frame.data()), frame_bytes)) {
    uint32_t number = 0;
    ASSERT_TRUE(testcard::ReadFrameNumber(frame.data(), layout, kFrameWidth * 4, &number))
        << "frame " << numbers.size();
    numbers.push_back(number);
  }
  // The file holds every frame the card delivered, in order; the only gaps
  // are frames the card reported lost.
  EXPECT_EQ(static_cast<size_t>(log.delivered), numbers.size());
  for (size_t i = 1; i < numbers.size(); ++i) {
    ASSERT_GT(numbers[i], numbers[i - 1]) << i;
    for (uint32_t missing = numbers[i - 1] + 1; missing < numbers[i]; ++missing)
      EXPECT_NE(log.dropped.end(), std::find(log.dropped.begin(), log.dropped.end(), missing))
          << "frame " << missing << " is neither in the file nor reported lost";
  }
  in.close();
  if (!HasFailure()) {
    std::remove(kFrames);
    std::remove(kMovieName);
  }
}

}  // namespace
}  // namespace testcard_test
