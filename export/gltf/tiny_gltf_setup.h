// tinygltf as the exporters use it: JSON through the system's nlohmann json, no image codecs
// (the textures arrive as PNG bytes and are written as they are), compiled once in
// tiny_gltf.cpp. Include this instead of <tiny_gltf.h> so that every user sees the same
// configuration.
#pragma once

#include <nlohmann/json.hpp>

#define TINYGLTF_NO_INCLUDE_JSON
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>
