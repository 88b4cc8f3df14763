// tsdb-mkdb: creates a new, empty database file for the database process.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "error/exception.h"
#include "tools/create_database.h"
#include "tools/options.h"

namespace {

const char* const usage =
    "usage: tsdb-mkdb [--block-size BYTES] [--chains N] [--size BYTES|--blocks N] [--force] "
    "PATH\n"
    "  --block-size  1024 to 16384, a multiple of 1024 (default 4096)\n"
    "  --chains      copies of each pointer chain, 2 to 5 (default 3)\n"
    "  --size        initial size in bytes, with K, M or G (default 64M)\n"
    "  --blocks      initial size in blocks, instead of --size\n"
    "  --force       replace an existing file\n";

tools::NewDatabase parse(int argc, char** argv) {
    tools::NewDatabase options;
    std::optional<std::string> size;
    std::optional<std::string> blocks;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw tools::UsageError{arg + " needs a value"};
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg == "--block-size") {
            options.block_size = tools::parse_number(arg, value(), 1024, 16384);
            if (options.block_size % 1024 != 0) {
                throw tools::UsageError{"--block-size must be a multiple of 1024"};
            }
        } else if (arg == "--chains") {
            options.chain_copies = tools::parse_number(arg, value(), 2, 5);
        } else if (arg == "--size") {
            size = value();
        } else if (arg == "--blocks") {
            blocks = value();
        } else if (arg == "--force") {
            options.replace = true;
        } else if (arg.starts_with("-")) {
            throw tools::UsageError{"unknown option " + arg};
        } else if (options.path.empty()) {
            options.path = tools::with_directory(arg);
        } else {
            throw tools::UsageError{"only one PATH may be given"};
        }
    }
    if (options.path.empty()) {
        throw tools::UsageError{"PATH is missing"};
    }
    options.blocks = tools::database_blocks(size, blocks, options.block_size);
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    tools::NewDatabase options;
    try {
        options = parse(argc, argv);
    } catch (const tools::UsageError& e) {
        std::fprintf(stderr, "tsdb-mkdb: %s\n%s", e.text.c_str(), usage);
        return 2;
    }
    try {
        tools::create_database(options);
    } catch (const error::Exception& e) {
        std::fprintf(stderr, "tsdb-mkdb: %s\n", e.text().c_str());
        return 1;
    }
    std::printf("created %s: %u blocks of %u bytes, %u copies of each chain\n",
                options.path.c_str(), options.blocks, options.block_size, options.chain_copies);
    return 0;
}
