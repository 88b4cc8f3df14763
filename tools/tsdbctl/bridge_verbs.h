// The verbs that take a node's series beyond it: export (OpenMetrics text,
// or Prometheus remote write) and serve (remote read, metrics, a page).
#pragma once

#include "tools/tsdbctl/verbs.h"

namespace tsdbctl {

tools::CommandRules export_rules();
void export_records(Context& c, const tools::Arguments& a);

tools::CommandRules serve_rules();
void serve(Context& c, const tools::Arguments& a);

}  // namespace tsdbctl
