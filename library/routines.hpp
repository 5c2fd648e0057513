// The C++ routines of the language library, registered by name for the
// library sources to bind at start-up.
#pragma once

namespace zuv::library {

// Adds the type tests, quit-return and the start-up helpers to the routine registry.
void register_routines();
// Adds the path, file, OS and low-level routines (system_routines.cpp).
void register_system_routines();
// Adds the ZUVBIN codec's and the collector-state routines (codec_routines.cpp).
void register_codec_routines();
// Adds the JSON decoder's unescape (json_routines.cpp).
void register_json_routines();
// Adds the encoders and the decoder of the image codec objects (image_routines.cpp).
void register_image_routines();

}  // namespace zuv::library
