// The GLB container: a 12-byte header, the JSON chunk padded with spaces, then the binary chunk
// padded with zeros. Put together here rather than by the serialiser, which would copy a large
// tree's buffer twice more on the way: the writers hand the file over in pieces.
//
// Nothing here fails: the caller checks glb_fits before it writes a head.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace exporter {

// The JSON chunk's length for JSON of up to json_bytes: padded to a multiple of four.
std::size_t glb_json_chunk(std::size_t json_bytes);
// Where the binary chunk's bytes start after a JSON chunk of that length.
std::size_t glb_data_offset(std::size_t json_chunk);

// The largest GLB: its length is a 32-bit field.
bool glb_fits(std::size_t json_chunk, std::size_t bin_bytes);

// The header and the JSON chunk (json_chunk bytes, at least glb_json_chunk(json.size()); 0 for
// exactly that), then the binary chunk's header when bin_bytes > 0; the chunk's bytes follow,
// then glb_padding(bin_bytes). The caller checks glb_fits first.
std::string glb_head(std::string_view json, std::size_t bin_bytes, std::size_t json_chunk = 0);
std::string_view glb_padding(std::size_t bin_bytes);

} // namespace exporter
