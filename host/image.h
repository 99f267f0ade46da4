// The host's image utility: RGB images of 32-bit float channels, and their PNG form.
#pragma once

#include <string>

#include "plugin_api.h"

namespace host {

// Width and height of an image made by the image service; false for anything else.
bool image_size(LWPixmapID image, int &width, int &height);

// The image as an 8-bit RGB PNG, each channel round(clamp(v, 0, 1) x 255); empty on failure.
std::string encode_png(LWPixmapID image);
// Pixels of 1 to 4 channels of bytes, rows top first, as PNG bytes; empty when they cannot be
// written. Every picture the host and the writers make goes through this one encoder.
std::string encode_png(int width, int height, int channels, const unsigned char *pixels);

} // namespace host
