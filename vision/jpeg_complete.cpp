#include "vision/jpeg_complete.h"

namespace {

bool restart_marker(uint8_t marker) {
    return marker >= 0xD0 && marker <= 0xD7;
}

// Markers that stand alone, without a length and a segment: the temporary
// marker and the restarts.
bool standalone_marker(uint8_t marker) {
    return marker == 0x01 || restart_marker(marker);
}

}  // namespace

bool jpeg_is_complete(const uint8_t* bytes, std::size_t n) {
    if (n < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        return true;  // not a JPEG; its own decoder judges it
    }
    std::size_t i = 2;
    for (;;) {
        // The next marker: stray bytes before it are passed over, and so is
        // a 0xFF 0x00, which outside a scan marks nothing, as the decoder
        // does; any number of 0xFF fill bytes may lead it.
        uint8_t marker = 0x00;
        while (marker == 0x00) {
            while (i < n && bytes[i] != 0xFF) {
                ++i;
            }
            while (i < n && bytes[i] == 0xFF) {
                ++i;
            }
            if (i >= n) {
                return false;  // cut short before the end marker
            }
            marker = bytes[i++];
        }
        if (marker == 0xD9) {
            return true;
        }
        if (standalone_marker(marker)) {
            continue;
        }
        if (n - i < 2) {
            return false;
        }
        const std::size_t length = static_cast<std::size_t>(bytes[i]) << 8 | bytes[i + 1];
        if (length < 2 || n - i < length) {
            return false;  // a segment cut short
        }
        i += length;
        if (marker == 0xDA) {
            // The scan's coded data, restart markers included, up to the
            // marker that follows it.
            while (i + 1 < n &&
                   !(bytes[i] == 0xFF && bytes[i + 1] != 0x00 && !restart_marker(bytes[i + 1]))) {
                ++i;
            }
            if (i + 1 >= n) {
                return false;
            }
        }
    }
}
