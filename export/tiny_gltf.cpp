// The one compilation of tinygltf's implementation.
#define TINYGLTF_IMPLEMENTATION
#include "tiny_gltf_setup.h"
