// Command-line front of the LZX encoder, for the fixture script and the
// benchmark; the cabinet is written by the tests' one cabinet writer:
//
//   make_lzx_cab OUT.cab WINDOWBITS [--e8 SIZE] [--blocks v:N,a:N,u:N,...]
//                [--literals] [--keep-paths] FILE...
//
// The files become the members of one LZX folder, named by their base names
// or, with --keep-paths, by the paths as given with '/' turned into '\'.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "bench/tools/lzx_encoder.h"
#include "tests/formats/cab/cab_builder.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: make_lzx_cab OUT.cab WINDOWBITS [--e8 SIZE] [--blocks v:N,a:N,u:N] [--literals] FILE...\n";
        return 2;
    }
    lzx_test::EncodeOptions options;
    options.windowBits = std::atoi(argv[2]);
    cab_testing::Folder folder;
    folder.compressionType = static_cast<std::uint16_t>(3 | options.windowBits << 8);
    std::string stream;
    bool keepPaths = false;
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--e8") && i + 1 < argc) {
            options.translationSize = static_cast<std::int32_t>(std::strtol(argv[++i], nullptr, 0));
        } else if (!std::strcmp(argv[i], "--blocks") && i + 1 < argc) {
            std::stringstream list(argv[++i]);
            std::string item;
            while (std::getline(list, item, ',')) {
                const char kind = item.at(0);
                const auto length = static_cast<std::uint32_t>(std::strtoul(item.c_str() + 2, nullptr, 0));
                options.blocks.push_back({kind == 'a'   ? lzx_test::BlockKind::Aligned
                                          : kind == 'u' ? lzx_test::BlockKind::Uncompressed
                                                        : lzx_test::BlockKind::Verbatim,
                                          length});
            }
        } else if (!std::strcmp(argv[i], "--keep-paths")) {
            keepPaths = true;
        } else if (!std::strcmp(argv[i], "--literals")) {
            options.useMatches = false;
        } else {
            std::ifstream in(argv[i], std::ios::binary);
            if (!in) {
                std::cerr << "make_lzx_cab: cannot read " << argv[i] << "\n";
                return 1;
            }
            std::stringstream content;
            content << in.rdbuf();
            const std::string bytes = content.str();
            const char* slash = std::strrchr(argv[i], '/');
            std::string name = keepPaths || slash == nullptr ? argv[i] : slash + 1;
            for (char& c : name) {
                if (c == '/') c = '\\';
            }
            folder.members.push_back({name, bytes});
            stream += bytes;
        }
    }
    for (const lzx_test::Frame& frame : lzx_test::encode(stream, options)) {
        folder.blocks.push_back({frame.data, static_cast<std::uint16_t>(frame.outputSize)});
    }
    const std::string cab = cab_testing::buildCabinet({folder});
    std::ofstream out(argv[1], std::ios::binary);
    out.write(cab.data(), static_cast<std::streamsize>(cab.size()));
    return out ? 0 : 1;
}
