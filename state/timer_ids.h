// Window timers and private messages of the main window.
#ifndef FERNWOODVIEW_TIMER_IDS_H
#define FERNWOODVIEW_TIMER_IDS_H

#include <windows.h>

constexpr unsigned TIMER_FPS = 16001;            // 500 ms, frame-rate readout
constexpr unsigned TIMER_CURSOR_HIDE = 16002;    // 2000 ms, fullscreen cursor
constexpr unsigned TIMER_RECORD_STATS = 16003;   // 500 ms, recording counters
constexpr unsigned TIMER_SCHEDULE_START = 23001; // 10000 ms each, scheduled recording
constexpr unsigned TIMER_SCHEDULE_STOP = 23002;
constexpr unsigned TIMER_DEVICE_RETURN = 16004;  // 1000 ms, while a card is unplugged

constexpr unsigned kFpsInterval = 500;
constexpr unsigned kScheduleInterval = 10000;

// The graph posts this to the main window when it has events to read.
constexpr UINT WM_GRAPH_EVENT = WM_APP + 1;
// Posted when the graph could not be built or run as chosen: the message is
// shown once the command that found the fault has finished its re-wiring.
constexpr UINT WM_GRAPH_FAULT = WM_APP + 2;

#endif
