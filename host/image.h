// The host's image utility: RGB images of 32-bit float channels, and their PNG form.
#pragma once

#include <string>

#include "common/error.h"
#include "plugin_api.h"

namespace host {

// Width and height of an image made by the image service; false for anything else.
bool image_size(LWPixmapID image, int &width, int &height);

// The image as an 8-bit RGB PNG of its width and height, each channel
// round(clamp(v, 0, 1) x 255). The only error conditions are an id that is no image of this
// host's image service (invalid_input, "the thumbnail is no image of this host") and those of
// the encoder below.
ramulon::Result<std::string> encode_png(LWPixmapID image);
// Pixels of 1 to 4 channels of bytes, rows top first (width x height x channels bytes), as the
// bytes of one PNG of that size and channel count. Every picture the host and the writers make
// goes through this one encoder. The only error condition is the encoder's refusal (a size or
// channel count it cannot write, no memory): internal.
ramulon::Result<std::string> encode_png(int width, int height, int channels, const unsigned char *pixels);

} // namespace host
