// The product version of a Windows image, read from the image's own bytes:
// the file that was opened and checked, never a path opened again (the
// system's GetFileVersionInfo opens the file by its name). Pure and
// bounds-checked: every offset and size comes from the file and is hostile.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win {

// The four product version parts (most significant first) of the fixed file
// information (VS_FIXEDFILEINFO) in the first RT_VERSION resource of the
// PE32 or PE32+ image in [file, file + size), as GetFileVersionInfo and
// VerQueryValue "\" give them. False (parts untouched) when there is none.
bool imageProductVersion(const uint8_t* file, size_t size, uint16_t parts[4]);

}  // namespace win
