#include "export/materials/textures.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "common/index_cast.h"
#include "export/materials/texture_sizes.h"
#include "host/file_read.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace exporter {
namespace {

std::string bytes_of(const unsigned char *data, std::size_t size)
{
    return std::string(reinterpret_cast<const char *>(data), size);
}

} // namespace

// Painted while Ramulon was built (tools/paint_textures.cpp).
extern const unsigned char painted_bark_png[], painted_bark_normal_png[], painted_leaves_png[], painted_leaf_png[];
extern const std::size_t painted_bark_png_size, painted_bark_normal_png_size, painted_leaves_png_size,
    painted_leaf_png_size;

const TextureSet &builtin_textures()
{
    static const TextureSet set{bytes_of(painted_bark_png, painted_bark_png_size),
                                bytes_of(painted_bark_normal_png, painted_bark_normal_png_size),
                                bytes_of(painted_leaves_png, painted_leaves_png_size),
                                bytes_of(painted_leaf_png, painted_leaf_png_size)};
    return set;
}

std::string check_png(const std::string &bytes, const std::string &path)
{
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes.size() < sizeof signature || std::memcmp(bytes.data(), signature, sizeof signature) != 0)
        return path + " is not a PNG image";
    const auto *data = reinterpret_cast<const stbi_uc *>(bytes.data());
    const int length = bytes.size() > 0x7fffffff ? 0x7fffffff : static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, length, &width, &height, &channels))
        return path + " is not a readable PNG image";
    if (width > max_texture_side || height > max_texture_side)
        return path + " is " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, more than " + std::to_string(max_texture_side) + " a side";
    // The header's bit depth (after the signature, the IHDR chunk's length, type, width and
    // height): a 16-bit image decodes to twice the memory, for a texture that shows 8 bits.
    if (stbi_is_16_bit_from_memory(data, length))
        return path + " has 16 bits a channel, more than the 8 a texture may have";
    // Decode it once, so that a truncated or damaged file is refused here and not by a viewer.
    stbi_uc *pixels = stbi_load_from_memory(data, length, &width, &height, &channels, 0);
    if (!pixels)
        return path + " is a damaged PNG image (" + stbi_failure_reason() + ")";
    stbi_image_free(pixels);
    return {};
}

bool decode_png(const std::string &bytes, int &width, int &height, std::vector<unsigned char> &rgba)
{
    const int length = bytes.size() > 0x7fffffff ? 0x7fffffff : static_cast<int>(bytes.size());
    int channels = 0;
    stbi_uc *pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc *>(bytes.data()), length, &width,
                                            &height, &channels, 4);
    if (!pixels)
        return false;
    rgba.assign(pixels, pixels + ramulon::index_cast<std::size_t>(width) * ramulon::index_cast<std::size_t>(height) * 4);
    stbi_image_free(pixels);
    return true;
}

ramulon::Result<TextureSet> load_textures(TextureChoice choice, const std::string &texture_folder)
{
    using ramulon::ErrorKind;
    if (choice == TextureChoice::none)
        return TextureSet{};
    if (choice == TextureChoice::builtin) {
        TextureSet out = builtin_textures();
        if (out.bark.empty() || out.bark_normal.empty() || out.leaves.empty() || out.leaf.empty())
            return ramulon::fail(ErrorKind::internal, "cannot encode the built-in textures");
        return out;
    }
    const std::filesystem::path folder(texture_folder);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        return ramulon::fail(ErrorKind::not_found, "texture folder " + texture_folder + " is not a folder");
    TextureSet set;
    for (auto [name, bytes] : {std::pair{&bark_image, &set.bark}, std::pair{&bark_normal_image, &set.bark_normal},
                               std::pair{&atlas_image, &set.leaves}, std::pair{&leaf_image, &set.leaf}}) {
        const std::filesystem::path path = folder / *name;
        // Only a regular file of a size a texture can have is read at all; anything else says
        // what it is (a folder, a device, a link that loops, a file not ours to read). The bark's
        // normal map may be left out.
        struct stat info;
        const bool missing = ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
        if (missing && name == &bark_normal_image)
            continue;
        if (missing)
            return ramulon::fail(ErrorKind::not_found, "texture folder " + texture_folder + " has no " + *name);
        auto read = host::read_regular_file(path.string(), max_texture_bytes);
        if (!read)
            return read.error();
        *bytes = std::move(read).value();
        if (std::string bad = check_png(*bytes, path.string()); !bad.empty())
            return ramulon::fail(ErrorKind::invalid_input, bad);
    }
    return set;
}

} // namespace exporter
