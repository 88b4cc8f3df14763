#include "server/metering.h"

#include "meter/error.h"
#include "meter/process_groups.h"
#include "util/time_value.h"

namespace server {

namespace {

using namespace queues;

meter::Group& metering_metrics = meter::process_groups().metering;
meter::MicroSecondTiming metering_time(&metering_metrics, "time",
                                       "Time spent in metering routines");

control::Metric_Group describe(const meter::Group& g) {
    control::Metric_Group d{g.name(), {}, {}, {}};
    for (const meter::Group* child : g.groups()) {
        d.groups.push_back(describe(*child));
    }
    for (const meter::Metric* m : g.metrics()) {
        d.metrics.push_back({m->name(), m->unit(), m->desc(), m->type()});
    }
    return d;
}

void respond(const meter::Metric& m, const event& request, EventSender& out) {
    if (const auto* counter = dynamic_cast<const meter::IntegerCounter*>(&m)) {
        out.send(event_of<RETURN_METRIC_UINT64>(request.dest, request.uid, counter->value()));
    } else if (const auto* t = dynamic_cast<const meter::Timing*>(&m)) {
        out.send(event_of<RETURN_METRIC_TIMING>(
            request.dest, request.uid, {t->n(), t->min(), t->max(), t->sum(), t->sum_squares()}));
    } else {
        throw meter::ENoSuchInstance("No such instance");
    }
}

void unknown(const event& request, EventSender& out) {
    out.send(event_of<RETURN_METRIC_ERROR>(request.dest, request.uid, "Unknown metric"));
}

}  // namespace

const meter::Metric* lookup_metric(const std::vector<std::string>& path) {
    const meter::Object* at = &meter::Group::root();
    for (const std::string& name : path) {
        const auto* group = dynamic_cast<const meter::Group*>(at);
        at = group != nullptr ? group->child(name) : nullptr;
        if (at == nullptr) {
            return nullptr;
        }
    }
    return dynamic_cast<const meter::Metric*>(at);
}

bool handle_metering(const event& request, EventSender& out) {
    switch (request.type) {
        case GET_METRIC: {
            const util::TimeValue started = util::TimeValue::now();
            const auto& path = static_cast<const control::Get_Metric_Data*>(request.data)->id;
            if (const meter::Metric* m = lookup_metric(path)) {
                try {
                    respond(*m, request, out);
                } catch (const meter::ENoSuchInstance&) {
                    out.send(event_of<RETURN_METRIC_ERROR>(request.dest, request.uid,
                                                           "No such instance"));
                }
            } else {
                unknown(request, out);
            }
            const util::TimeValue spent = util::TimeValue::now() - started;
            metering_time.record(static_cast<uint64_t>(spent.seconds()) * 1000000 +
                                 static_cast<uint64_t>(spent.microseconds()));
            return true;
        }
        case LIST_METRICS:
            out.send(event_of<RETURN_LIST_METRICS>(request.dest, request.uid,
                                                   describe(meter::Group::root())));
            return true;
        case GET_METRIC_TYPE: {
            const auto& path = static_cast<const control::Get_Metric_Type_Data*>(request.data)->id;
            if (const meter::Metric* m = lookup_metric(path)) {
                out.send(event_of<RETURN_GET_METRIC_TYPE>(
                    request.dest, request.uid, {m->name(), m->unit(), m->desc(), m->type()}));
            } else {
                unknown(request, out);
            }
            return true;
        }
        default:
            return false;
    }
}

void activate_metering(EventSender& out) {
    meter::activate_metering();
    out.send(event_of<SUPPORTS_METRICS>(queue_main, 0, 0));
}

}  // namespace server
