// DirectShow objects as report text: GUIDs by name, media types, the
// filters and connections of a graph.
#ifndef FERNWOOD_CHECK_DSHOW_TEXT_H
#define FERNWOOD_CHECK_DSHOW_TEXT_H

#include <windows.h>

#include <dshow.h>

#include <string>

// "UYVY", "VideoInfo2", "PIN_CATEGORY_CAPTURE", else "{…}".
std::string GuidName(REFGUID guid);
// "Video UYVY VideoInfo 1920x1080 333667 (29.97 fps)", "Audio PCM WaveFormatEx 48000 Hz 2 ch 16 bit".
std::string MediaTypeText(const AM_MEDIA_TYPE& type);
std::string FilterName(IBaseFilter* filter);
std::string PinName(IPin* pin);
// Every filter of the graph with its class, then every connection from an
// output pin with its media type, as report lines at `depth`.
std::string GraphText(IGraphBuilder* graph, int depth);

#endif
