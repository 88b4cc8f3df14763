// tsdb-mkdb: creates a new, empty database file for the database process.
// It takes the words of `tsdbctl init`.
#include <CLI/CLI.hpp>
#include <iostream>

#include "error/exception.h"
#include "tools/creation_options.h"
#include "tools/operator_words.h"
#include "tools/options.h"

int main(int argc, char** argv) {
    CLI::App app{"Creates a new, empty database file.", "tsdb-mkdb"};
    app.footer("Exit status: 0 done, 1 the file was not made, 2 the command line is wrong.");
    std::string path;
    app.add_option("DB", path, "the database file")->required();
    const tools::Arguments arguments(app, tools::database_creation_rules());
    if (const auto status = tools::parse_command_line(app, argc, argv)) {
        return *status;
    }
    try {
        const tsdb::NewDatabase made = tools::new_database(path, arguments);
        tsdb::create_database(made);
        std::cout << tools::creation_summary(made) << "\n";
        return 0;
    } catch (const tools::UsageError& e) {
        std::cerr << "tsdb-mkdb: " << e.text << "\n(tsdb-mkdb --help shows what it takes)\n";
        return 2;
    } catch (const error::Exception& e) {
        std::cerr << "tsdb-mkdb: " << tools::in_operator_words(e.text()) << "\n";
        return 1;
    }
}
