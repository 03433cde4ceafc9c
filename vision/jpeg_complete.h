// Whether a captured JPEG file holds a whole image. A JPEG that ends before
// its end-of-image marker decodes to a partly grey picture without any error,
// so a capture cut short must be caught before the decoder sees it; anything
// the decoder itself reads as a whole picture must pass.
#pragma once

#include <cstddef>
#include <cstdint>

// True when bytes (n of them) are a JPEG whose end marker follows its last
// scan, or are no JPEG at all (their decoder judges them). The segments carry
// their own lengths, a scan's coded data runs up to the first marker that is
// neither a stuffed 0xFF 0x00 nor a restart marker, and between segments the
// bytes up to the next marker are skipped, as the decoder does ("extraneous
// bytes before marker"). Whatever follows the end marker is not looked at:
// some cameras pad their buffers with stale data.
bool jpeg_is_complete(const uint8_t* bytes, std::size_t n);
