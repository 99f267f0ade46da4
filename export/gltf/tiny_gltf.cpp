// The one compilation of tinygltf's implementation.
#define TINYGLTF_IMPLEMENTATION
#include "export/gltf/tiny_gltf_setup.h"
