// zuv_bootgen: writes the boot image. It is the runtime without a boot image:
// it lexes the boot sources that boot/manifest.txt lists (built into it as
// text) and writes their records, one block of code per source in manifest
// order, as one value in the compact ZUVBIN layout, compressed with the
// runtime's block compressor. The output holds no timestamp or path, so equal
// sources give equal bytes.
//
// Usage: zuv_bootgen OUTPUT
#include <cstdio>
#include <vector>

#include "boot/boot_texts.hpp"
#include "evaluator/stack.hpp"
#include "lexer/serialize/zuvbin.hpp"
#include "runtime/compressor.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/init.hpp"
#include "runtime/process.hpp"

int main(int argc, char** argv) {
    using namespace zuv;
    if (argc != 2) {
        std::fputs("usage: zuv_bootgen OUTPUT\n", stderr);
        return 2;
    }
    runtime::init_process(argc, argv);
    int status = 0;
    runtime::run_on_big_stack([&] {
        runtime::run_top_level([&] {
            runtime::init();
            Cell* records = none::make_at(stack::push_raw());
            boot_texts::lex_records(records);
            Cell* image = none::make_at(stack::push_raw());
            zuvbin::encode_cp(records, image);
            std::vector<uint8_t> plain = binary::bytes_of(image);
            // The 8-byte header stays as it is, with the compressed flag set;
            // everything after it is compressed.
            std::vector<uint8_t> bytes(plain.begin(), plain.begin() + 8);
            bytes[7] |= zuvbin::FLAG_COMPRESSED;
            std::vector<uint8_t> packed = compressor::compress(plain.data() + 8, plain.size() - 8);
            bytes.insert(bytes.end(), packed.begin(), packed.end());
            std::FILE* out = std::fopen(argv[1], "wb");
            if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
                std::perror(argv[1]);
                status = 1;
            }
        });
    });
    return status;
}
