#include "image.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>
#include <vector>

#include "common/index_cast.h"
#include "host_services.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace host {
namespace {

struct image {
    int width = 0;
    int height = 0;
    std::vector<float> rgb; // row by row, row 0 on top
};

// The images alive now, so that a stale or foreign identifier is recognised as none of ours.
std::unordered_set<const void *> &live_images()
{
    static std::unordered_set<const void *> live;
    return live;
}

image *as_image(LWPixmapID id)
{
    return live_images().count(id) ? static_cast<image *>(id) : nullptr;
}

float *pixel_at(LWPixmapID id, int x, int y)
{
    image *im = as_image(id);
    if (!im || x < 0 || y < 0 || x >= im->width || y >= im->height)
        return nullptr;
    return &im->rgb[(ramulon::index_cast<std::size_t>(y) * im->width + x) * 3];
}

LWPixmapID create(int width, int height, int type)
{
    if (type != LWIMTYP_RGBFP || width <= 0 || height <= 0 || width > 65536 || height > 65536)
        return nullptr;
    auto *im = new image;
    live_images().insert(im);
    im->width = width;
    im->height = height;
    im->rgb.assign(ramulon::index_cast<std::size_t>(width) * height * 3, 0.0f);
    return im;
}

void destroy(LWPixmapID id)
{
    image *im = as_image(id);
    if (!im)
        return;
    live_images().erase(im);
    delete im;
}

void set_pixel(LWPixmapID id, int x, int y, void *value)
{
    float *p = pixel_at(id, x, y);
    if (!p || !value)
        return;
    const float *v = static_cast<const float *>(value);
    std::copy(v, v + 3, p);
}

void get_pixel(LWPixmapID id, int x, int y, void *value)
{
    if (!value)
        return;
    float *out = static_cast<float *>(value);
    const float *p = pixel_at(id, x, y);
    if (p)
        std::copy(p, p + 3, out);
    else
        std::fill(out, out + 3, 0.0f);
}

unsigned char to_byte(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    return static_cast<unsigned char>(std::lround(static_cast<double>(v) * 255.0));
}

void append_bytes(void *context, void *data, int size)
{
    auto *out = static_cast<std::string *>(context);
    out->append(static_cast<const char *>(data), ramulon::index_cast<std::size_t>(size));
}

LWImageUtil funcs{create, destroy, set_pixel, get_pixel};

} // namespace

LWImageUtil *image_service() { return &funcs; }

bool image_size(LWPixmapID id, int &width, int &height)
{
    const image *im = as_image(id);
    if (!im)
        return false;
    width = im->width;
    height = im->height;
    return true;
}

ramulon::Result<std::string> encode_png(LWPixmapID id)
{
    const image *im = as_image(id);
    if (!im)
        return ramulon::fail(ramulon::ErrorKind::invalid_input, "the thumbnail is no image of this host");
    std::vector<unsigned char> bytes(im->rgb.size());
    std::transform(im->rgb.begin(), im->rgb.end(), bytes.begin(), to_byte);
    return encode_png(im->width, im->height, 3, bytes.data());
}

ramulon::Result<std::string> encode_png(int width, int height, int channels, const unsigned char *pixels)
{
    std::string png;
    if (!stbi_write_png_to_func(append_bytes, &png, width, height, channels, pixels, width * channels))
        return ramulon::fail(ramulon::ErrorKind::internal, "the PNG encoder refused a " + std::to_string(width) + " x " +
                                                               std::to_string(height) + " picture");
    return png;
}

} // namespace host
