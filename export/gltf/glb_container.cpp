#include "export/gltf/glb_container.h"

#include <algorithm>
#include <cstdint>

namespace exporter {
namespace {

std::size_t padded(std::size_t bytes) { return (bytes + 3) / 4 * 4; }

// GLB is little-endian, whatever the machine.
void append_word(std::string &out, std::uint32_t v)
{
    const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    out.append(bytes, 4);
}

std::size_t glb_length(std::size_t json_chunk, std::size_t bin_bytes)
{
    return 12 + 8 + json_chunk + (bin_bytes == 0 ? 0 : 8 + padded(bin_bytes));
}

} // namespace

std::size_t glb_json_chunk(std::size_t json_bytes) { return padded(json_bytes); }

std::size_t glb_data_offset(std::size_t json_chunk) { return 12 + 8 + json_chunk + 8; }

bool glb_fits(std::size_t json_chunk, std::size_t bin_bytes)
{
    return json_chunk <= UINT32_MAX && bin_bytes <= UINT32_MAX && glb_length(json_chunk, bin_bytes) <= UINT32_MAX;
}

std::string glb_head(std::string_view json, std::size_t bin_bytes, std::size_t json_chunk)
{
    json_chunk = std::max(json_chunk, padded(json.size()));
    std::string head;
    head.reserve(28 + json_chunk);
    head += "glTF";
    append_word(head, 2);
    append_word(head, static_cast<std::uint32_t>(glb_length(json_chunk, bin_bytes)));
    append_word(head, static_cast<std::uint32_t>(json_chunk));
    append_word(head, 0x4E4F534Au); // "JSON"
    head += json;
    head.append(json_chunk - json.size(), ' ');
    if (bin_bytes > 0) {
        append_word(head, static_cast<std::uint32_t>(padded(bin_bytes)));
        append_word(head, 0x004E4942u); // "BIN"
    }
    return head;
}

std::string_view glb_padding(std::size_t bin_bytes)
{
    return std::string_view("\0\0\0", padded(bin_bytes) - bin_bytes);
}

} // namespace exporter
