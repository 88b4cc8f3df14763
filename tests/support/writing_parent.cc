// A parent for the test of a parent that dies while the database holds
// buffered writes: starts the database on DATABASE, writes RECORDS minute
// samples to a new series in requests of ten, waits until they are handled,
// prints "<database pid> <check id>" and waits to be killed.
#include <unistd.h>

#include <iostream>

#include "parent/tsdb_client.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: writing_parent TSDB DATABASE RECORDS\n";
        return 2;
    }
    parent::ChildOptions options = parent::database_child(argv[1], argv[2]);
    options.on_log = [](const std::string&) {};
    parent::ChildProcess child(options);
    parent::TsdbClient client(child);
    const uint32_t id = client.create({tsdb::type_continuous, {{1000, 60}, {100, 3600}}});
    const int records = std::stoi(argv[3]);
    for (int first = 0; first < records; first += 10) {
        tsdb::Put_Data_Data put{queues::queue_main, id, tsdb::PUT_Append, 5, {}};
        for (int i = first; i < first + 10 && i < records; ++i) {
            put.data.items.push_back(std::make_unique<tsdb::data_interval_continuous_t>(
                60 * i, 60 * (i + 1), 1.0f, 2.0f, 3.0f, 1, 0));
        }
        client.put_async(put);
    }
    client.sync();
    std::cout << child.pid() << " " << id << std::endl;
    for (;;) {
        pause();
    }
}
