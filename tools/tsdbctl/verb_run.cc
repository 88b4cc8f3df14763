#include "tools/tsdbctl/verb_run.h"

#include <cerrno>

#include "error/exception.h"
#include "tools/operator_words.h"
#include "tools/options.h"
#include "util/system_error.h"

namespace tsdbctl {

std::optional<Failure> run_verb(const Verb& verb, Context& context, const tools::Arguments& a) {
    try {
        context.names = bridge::SeriesNames::for_database(context.database, a.given("--labels"));
        verb.run(context, a);
        // Output that did not reach its file (a full disk) is a failure too.
        if (!(context.out << std::flush)) {
            return Failure{1, "cannot write the output: " + util::system_error_text(errno)};
        }
        return std::nullopt;
    } catch (const tools::UsageError& e) {
        return Failure{2, e.text};
    } catch (const error::Exception& e) {
        return Failure{1, tools::in_operator_words(e.text())};
    }
}

}  // namespace tsdbctl
