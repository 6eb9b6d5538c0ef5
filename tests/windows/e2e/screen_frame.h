// The test card's frame number as a window shows it on the screen, shared by
// the viewer's card tests and the release's package probe.
#ifndef FERNWOODVIEW_SCREEN_FRAME_H
#define FERNWOODVIEW_SCREEN_FRAME_H

#include <windows.h>

#include <cstdint>

// False when the window has no client area or shows no readable number.
bool ReadShownFrameNumber(HWND window, uint32_t* number);
// Whether the client area on the screen is black throughout; false when it
// could not be read.
bool ReadClientIsBlack(HWND window, bool* black);

#endif
