#include "record/recording_journal.h"

#include <dshow.h>
#include <dvdmedia.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "capture/capture_graph.h"
#include "capture/pins.h"
#include "record/avi_repair.h"
#include "record/repair_file.h"
#include "settings/settings_file.h"
#include "state/messages.h"
#include "state/window.h"

static bool JournalPath(char* path, size_t size)
{
    const char* slash = std::strrchr(settings_path, '\\');
    if (!settings_path[0] || !slash)
        return false;
    int n = std::snprintf(path, size, "%.*s\\unfinished.txt", static_cast<int>(slash - settings_path), settings_path);
    return n > 0 && static_cast<size_t>(n) < size;
}

static bool VideoStream(const AM_MEDIA_TYPE& type, JournalStream* stream)
{
    const BITMAPINFOHEADER* header = nullptr;
    REFERENCE_TIME frame = 0;
    if (type.formattype == FORMAT_VideoInfo && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        header = &info->bmiHeader;
        frame = info->AvgTimePerFrame;
    } else if (type.formattype == FORMAT_VideoInfo2 && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat);
        header = &info->bmiHeader;
        frame = info->AvgTimePerFrame;
    }
    if (!header || frame <= 0 || frame > 0xFFFFFFFFLL)
        return false;
    const BYTE* from = reinterpret_cast<const BYTE*>(header);
    stream->video = true;
    stream->handler = header->biCompression == BI_RGB || header->biCompression == BI_BITFIELDS ? 0
                                                                                               : header->biCompression;
    stream->scale = static_cast<uint32_t>(frame);
    stream->rate = 10000000;
    stream->sample_size = 0;
    stream->format.assign(from, static_cast<const BYTE*>(type.pbFormat) + type.cbFormat);
    return true;
}

static bool AudioStream(const AM_MEDIA_TYPE& type, JournalStream* stream)
{
    if (type.formattype != FORMAT_WaveFormatEx || !type.pbFormat || type.cbFormat < sizeof(PCMWAVEFORMAT))
        return false;
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    if (!wave->nBlockAlign || !wave->nAvgBytesPerSec)
        return false;
    size_t bytes = type.cbFormat;
    if (bytes >= sizeof(WAVEFORMATEX) && bytes > sizeof(WAVEFORMATEX) + wave->cbSize)
        bytes = sizeof(WAVEFORMATEX) + wave->cbSize;
    stream->video = false;
    stream->handler = 0;
    stream->scale = wave->nBlockAlign;
    stream->rate = wave->nAvgBytesPerSec;
    stream->sample_size = wave->nBlockAlign;
    stream->format.assign(type.pbFormat, type.pbFormat + bytes);
    return true;
}

// The multiplexer's streams are its connected inputs in pin order.
static bool ReadMuxStreams(RecordingJournal* journal)
{
    bool understood = true;
    IPin* none = FindPin(capture_graph.avi_mux, [&](IPin* pin) {
        AM_MEDIA_TYPE type{};
        if (!IsInputPin(pin) || pin->ConnectionMediaType(&type) != S_OK)
            return false;
        JournalStream stream;
        bool known = type.majortype == MEDIATYPE_Video ? VideoStream(type, &stream) : AudioStream(type, &stream);
        FreeMediaTypeContents(type);
        if (known)
            journal->streams.push_back(stream);
        understood = understood && known;
        return false;
    });
    SafeRelease(none);
    return understood && !journal->streams.empty();
}

bool OpenRecordingJournal(const char* movie_path)
{
    char path[MAX_PATH];
    RecordingJournal journal;
    journal.movie = movie_path;
    if (!capture_graph.avi_mux || !JournalPath(path, sizeof path) || !ReadMuxStreams(&journal))
        return false;
    return WriteJournalFile(path, journal);
}

void CloseRecordingJournal()
{
    char path[MAX_PATH];
    if (JournalPath(path, sizeof path))
        DeleteFileA(path);
}

void RepairAfterFailedWrite()
{
    char path[MAX_PATH];
    RecordingJournal journal;
    if (!JournalPath(path, sizeof path) || !ReadJournalFile(path, &journal))
        return;
    RepairOutcome outcome = RepairMovieFile(journal.movie.c_str(), journal.streams).outcome;
    if (outcome == RepairOutcome::kRepaired || outcome == RepairOutcome::kWasWhole ||
        outcome == RepairOutcome::kNotUnderstood)
        DeleteFileA(path);
}

static void SayRepaired(const RecordingJournal& journal, const RepairResult& result)
{
    double sound_seconds = 0;
    for (const JournalStream& s : journal.streams)
        if (!s.video && s.rate)
            sound_seconds = static_cast<double>(result.audio_bytes) / s.rate;
    wchar_t movie[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, journal.movie.c_str(), -1, movie, MAX_PATH))
        movie[0] = L'\0';
    wchar_t text[700];
    if (result.outcome == RepairOutcome::kRepaired)
        std::swprintf(text, 700,
                      MessageText(Message::kRepaired),
                      movie, static_cast<unsigned long long>(result.video_frames), sound_seconds);
    else
        std::swprintf(text, 700,
                      MessageText(Message::kNotRepaired),
                      movie);
    ShowMessageBox(text, L"", MB_OK | (result.outcome == RepairOutcome::kRepaired ? MB_ICONINFORMATION : MB_ICONWARNING));
}

void RepairUnfinishedRecording()
{
    char path[MAX_PATH];
    RecordingJournal journal;
    if (!JournalPath(path, sizeof path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return;
    // Said once, whatever the outcome: a file the repair cannot read stays as it was.
    bool readable = ReadJournalFile(path, &journal);
    DeleteFileA(path);
    if (!readable || GetFileAttributesA(journal.movie.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    RepairResult result = RepairMovieFile(journal.movie.c_str(), journal.streams);
    if (result.outcome != RepairOutcome::kWasWhole)
        SayRepaired(journal, result);
}
