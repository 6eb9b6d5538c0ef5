#pragma once

#include <unknwn.h>

namespace fernwood {

// The Infinite Pin Tee stand-in (CLSID_InfTee): one input, and always exactly
// one free output besides the connected ones ("Output1", "Output2", ...).
HRESULT CreateInfTee(REFIID iid, void** out);

// Lists the filter with the filter mapper as the platform lists its own
// (legacy filter category, MERIT_DO_NOT_USE), or removes it.
HRESULT RegisterInfTeeFilter(bool install);

}  // namespace fernwood
