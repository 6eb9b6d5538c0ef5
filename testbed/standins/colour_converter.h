#pragma once

#include <unknwn.h>

namespace fernwood {

// The Colour Space Converter stand-in (CLSID_Colour): RGB in, RGB out of the
// same picture size ("Input" -> "XForm Out").
HRESULT CreateColourConverter(REFIID iid, void** out);

// Lists the filter with the filter mapper as the platform lists its own
// (legacy filter category, MERIT_UNLIKELY), or removes it.
HRESULT RegisterColourConverterFilter(bool install);

}  // namespace fernwood
