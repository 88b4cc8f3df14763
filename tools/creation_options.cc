#include "tools/creation_options.h"

#include "tools/options.h"

namespace tools {

CommandRules database_creation_rules() {
    return {{},
            {{"--block-size", "BYTES", "1024 to 16384, a multiple of 1024", "4096"},
             {"--chains", "N", "copies of each pointer chain, 2 to 5", "3"},
             {"--size", "BYTES", "the initial size, with K, M or G", "64M"},
             {"--blocks", "N", "the initial size in blocks, instead of --size"},
             {"--force", "", "replace an existing file"}}};
}

tsdb::NewDatabase new_database(const std::string& path, const Arguments& arguments) {
    tsdb::NewDatabase made;
    made.path = with_directory(path);
    made.block_size = parse_number("--block-size", arguments.value("--block-size"), 1024, 16384);
    if (made.block_size % 1024 != 0) {
        throw UsageError{"--block-size must be a multiple of 1024"};
    }
    made.chain_copies = parse_number("--chains", arguments.value("--chains"), 2, 5);
    if (arguments.has("--size") && arguments.has("--blocks")) {
        throw UsageError{"give --size or --blocks, not both"};
    }
    made.blocks = arguments.has("--blocks")
                      ? parse_number("--blocks", arguments.value("--blocks"), 1, 0xFFFFFFFE)
                      : blocks_of_size(arguments.value("--size"), made.block_size);
    made.replace = arguments.has("--force");
    return made;
}

std::string creation_summary(const tsdb::NewDatabase& made) {
    return "created " + made.path + ": " + std::to_string(made.blocks) + " blocks of " +
           std::to_string(made.block_size) + " bytes (" +
           std::to_string(tsdb::database_file_size(made) >> 20) + " MiB), " +
           std::to_string(made.chain_copies) + " copies of each chain";
}

}  // namespace tools
