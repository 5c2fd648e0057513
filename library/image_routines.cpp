// The routines of the image codec objects (png, jpeg, bmp, gif, tiff): one
// encoder a format, each passing the format's number to the image
// datatype's encoder, and one decoder for all five (the data's signature
// chooses the format). Start-up binds each by name (boot-routine).
#include "evaluator/routines.hpp"
#include "library/answers.hpp"
#include "library/routines.hpp"
#include "runtime/datatypes/image.hpp"
#include "services/image_codecs.hpp"

namespace zuv::library {

namespace {

using routines::Value;

// encode img where: the encoded bytes, or the file `where` names once they
// are written to it.
template <int32_t FORMAT>
Value encode(const Value* args, int32_t) {
    return answer(image::encode(args[0].cell, args[1].cell, FORMAT));
}

// decode data: a new image from a binary! or a file!.
Value decode(const Value* args, int32_t) { return answer(image::decode(args[0].cell)); }

}  // namespace

void register_image_routines() {
    routines::add("png-encode", encode<image_codecs::PNG>);
    routines::add("jpeg-encode", encode<image_codecs::JPEG>);
    routines::add("bmp-encode", encode<image_codecs::BMP>);
    routines::add("gif-encode", encode<image_codecs::GIF>);
    routines::add("tiff-encode", encode<image_codecs::TIFF>);
    routines::add("image-decode", decode);
}

}  // namespace zuv::library
