// Class ids of the test card's filters. Every configured device of a kind
// shares its class; the device's index travels in its moniker's property bag.
#pragma once

#include <windows.h>

namespace testcard {

// {5BC01229-BE08-4C93-A6B7-69265C6B7F0F}
inline const CLSID CLSID_TestCardVideo = {
    0x5bc01229, 0xbe08, 0x4c93, {0xa6, 0xb7, 0x69, 0x26, 0x5c, 0x6b, 0x7f, 0x0f}};
// {D348706D-55BD-48D7-B15C-5E8A60873623}
inline const CLSID CLSID_TestCardAudio = {
    0xd348706d, 0x55bd, 0x48d7, {0xb1, 0x5c, 0x5e, 0x8a, 0x60, 0x87, 0x36, 0x23}};

// Property-bag value (VT_I4) naming the configured device a moniker stands for.
inline const wchar_t kDeviceIndexProperty[] = L"FernwoodDeviceIndex";

}  // namespace testcard
