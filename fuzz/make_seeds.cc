// Writes a starting corpus for every fuzz target from valid inputs that our
// own code makes: a configuration record, interval lists of every kind,
// patches extracted from series of every type, and database images.
//
//   make_seeds DIR   (writes DIR/<target>/<name>)
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "io/memory_pipe.h"
#include "queues/event_stream.h"
#include "tests/support/sim_database.h"
#include "tsdb/engine.h"
#include "tsdb/storage_type.h"
#include "util/bytes.h"

namespace {

std::string dir;

void write_seed(const std::string& target, const std::string& name, const std::string& bytes) {
    mkdir((dir + "/" + target).c_str(), 0755);
    std::ofstream(dir + "/" + target + "/" + name, std::ios::binary) << bytes;
}

template <typename Write>
std::string stream_bytes(Write&& write) {
    io::MemoryPipe pipe;
    protocol::ioprim out(nullptr, &pipe.out());
    write(out);
    out.flush();
    const std::vector<uint8_t> bytes = pipe.take();
    return std::string(bytes.begin(), bytes.end());
}

void configuration_seeds() {
    control::Server_Configuration_Fields conf;
    conf.dbms_tsdb_file_path = "/var/lib/nimbra/tsdb.db";
    conf.log_mask = 0x4000000;
    conf.modem_options = {"a", "b"};
    conf.tsdb_buffer_entries = 32;
    write_seed("configuration_fuzz", "record",
               stream_bytes([&](protocol::ioprim& out) { protocol::put(out, conf); }));
}

void interval_seeds() {
    tsdb::interval_list mixed;
    mixed.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(0, 60, 1, 2, 3, 1, 0));
    mixed.items.push_back(std::make_unique<tsdb::data_interval_enum_t>(5, 1, 0, 60, 120));
    mixed.items.push_back(std::make_unique<tsdb::data_interval_incident_t>(2, "disk full", 90));
    mixed.items.push_back(nullptr);
    std::string shape(24, '\0');
    const int64_t end = 600;
    std::memcpy(shape.data() + 8, &end, 8);
    write_seed("interval_conversion_fuzz", "mixed",
               shape + stream_bytes([&](protocol::ioprim& out) { mixed.write_to(out); }));
}

void patch_seeds() {
    testing_support::SimDisk disk =
        testing_support::formatted_disk(testing_support::small_database(200, 1024, 2));
    tsdb::Engine engine(testing_support::open_on(disk));
    for (uint32_t type = 1; type <= 4; ++type) {
        const uint32_t id = engine.create_series({type, {{40, 60}, {20, 300}}});
        for (uint32_t m = 0; m < 30; ++m) {
            tsdb::by_type(type, [&]<uint32_t T>() {
                tsdb::record_t<T> r{};
                r.timestart = 1000000 + m * 60;
                r.duration = 60;
                engine.put<T>(id, r);
            });
        }
        write_seed("patch_merge_fuzz", "type" + std::to_string(type),
                   std::string(1, static_cast<char>(type - 1)) + engine.extract(id));
    }
}

void database_seeds() {
    // An offset and the bytes already there: the valid image itself.
    const testing_support::SimDisk disk =
        testing_support::formatted_disk(testing_support::small_database(96, 1024, 2));
    for (uint32_t offset : {0u, 1024u, 2048u, 4096u}) {
        std::string seed(4, '\0');
        std::memcpy(seed.data(), &offset, 4);
        seed.append(util::chars_of(disk.current().data()) + offset, 256);
        write_seed("database_open_fuzz", "at" + std::to_string(offset), seed);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_seeds DIR\n";
        return 2;
    }
    dir = argv[1];
    mkdir(dir.c_str(), 0755);
    configuration_seeds();
    interval_seeds();
    patch_seeds();
    database_seeds();
    return 0;
}
