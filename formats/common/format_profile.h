// The colour-profile lookup: a page record may name an ICC profile
// (linkedProfileName) by path or by a name in the platform's colour
// directory; the TIFF writer embeds it, the BMP reader reports its size.
#pragma once

// A descriptor of the named profile, open for reading, or -1 when there is
// no name, no such file or an empty one. The caller closes it.
int format_find_profile(const char* name);
