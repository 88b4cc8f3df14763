#include "server/process.h"

#include <iostream>
#include <memory>

#include "error/anomaly.h"
#include "io/error.h"
#include "io/sibling_messenger.h"
#include "log/log.h"
#include "log/storage_log.h"
#include "log/system_log.h"
#include "platform/process.h"
#include "queues/childqueue.h"
#include "queues/parent_log_sink.h"
#include "server/buffer_settings.h"
#include "server/metering.h"
#include "server/request_handlers.h"
#include "server/timed_duties.h"
#include "server/trace.h"
#include "server/upgrade.h"
#include "tsdb/error.h"

namespace server {

namespace {

using namespace queues;

// Replies toward a requester whose stream has ended are dropped with a log
// line: the requester can no longer read them, and the process must still
// reach its shutdown steps.
class ReplySender final : public EventSender {
public:
    explicit ReplySender(childqueue& parent) : parent_(parent) {}
    void send(const event& e) override {
        try {
            parent_.send(e);
        } catch (const io::EEndOfStream& gone) {
            dropped(e, gone);
        } catch (const io::ENoConnection& gone) {
            dropped(e, gone);
        }
    }
    uint32_t fresh_uid() override { return parent_.fresh_uid(); }

private:
    static void dropped(const event& e, const error::Exception& why) {
        logging::log("TSDB dropped " + event_name(e.type) + " to " + queue_name(e.dest) + ": " +
                     why.text());
    }
    childqueue& parent_;
};

// Log lines go to the parent while this lives, and to the error output
// before and after.
class ParentLogging {
public:
    explicit ParentLogging(childqueue& parent) : sink_(parent) { logging::set_sink(&sink_); }
    ~ParentLogging() { logging::set_sink(nullptr); }
    ParentLogging(const ParentLogging&) = delete;
    ParentLogging& operator=(const ParentLogging&) = delete;

private:
    ParentLogSink sink_;
};

control::Server_Configuration_Fields ask_configuration(childqueue& parent) {
    event_of<REQUEST_SERVER_CONFIGURATION> ask(queue_main, 0, 0);
    const auto reply =
        parent.dialog(ask, SERVER_CONFIGURATION,
                      "Peer MAIN returned EOS when waiting for control::Server_Configuration");
    return static_cast<const event_of<SERVER_CONFIGURATION>&>(*reply).payload;
}

// The logging settings, and the write buffer's for the database to come.
tsdb::buffer_settings_t apply(const control::Server_Configuration_Fields& conf) {
    logging::set_log_mask(conf.log_mask);
    logging::set_match_text(conf.stop_on_log_match);
    logging::set_storage_verbosity(logging::verbosity_for_log_mask(conf.log_mask));
    return buffer_settings(conf);
}

std::unique_ptr<tsdb::Engine> open_database(const control::Server_Configuration_Fields& conf,
                                            const tsdb::buffer_settings_t& buffer) {
    auto engine = tsdb::Engine::open(conf.dbms_tsdb_file_path, buffer);
    upgrade_buffer_levels(*engine, conf.tsdb_upgrade_discard_bufferlevels);
    return engine;
}

class MainLoop {
public:
    MainLoop(io::SiblingMessenger& messenger, childqueue& parent, tsdb::Engine& engine,
             Trace& trace)
        : messenger_(messenger),
          parent_(parent),
          replies_(parent),
          handlers_(engine, replies_),
          duties_(engine),
          trace_(trace) {}

    void run() {
        while (!parent_gone_) {
            step();
            duties_.run();
        }
    }

private:
    void step() {
        try {
            io::waitReady(parent_.front(), util::TimeValue(1, 0));
        } catch (const io::ETimeout&) {
            return;
        }
        const std::unique_ptr<event> e = parent_.next();
        if (!e) {
            parent_gone_ = parent_.peerGone(queue_main);
            return;
        }
        if (e->type == SYS_EXIT) {
            logging::log("Initiating shutdown");
            messenger_.initiateShutdown();
            return;
        }
        if (handle_metering(*e, replies_)) {
            return;
        }
        if (handlers_.serves(e->type)) {
            serve(*e);
            return;
        }
        logging::log("TSDB got unexpected event " + event_name(e->type));
    }

    void serve(const event& request) {
        trace_.begin();
        try {
            handlers_.handle(request);
            trace_.end(event_name(request.type));
        } catch (const errors::db_anomaly& refused) {
            replies_.send(exevent(request.dest, request.uid, refused.text()));
        } catch (const tsdb::error_generic& failed) {
            replies_.send(exevent(request.dest, request.uid, failed.text()));
        }
    }

    io::SiblingMessenger& messenger_;
    childqueue& parent_;
    ReplySender replies_;
    RequestHandlers handlers_;
    TimedDuties duties_;
    Trace& trace_;
    bool parent_gone_ = false;
};

// Everything buffered goes to the levels and the chains are committed; a
// failure is reported where it outlives the parent and shutdown goes on.
void close_database(tsdb::Engine& engine) {
    try {
        engine.flush_all();
        engine.phase_shift();
    } catch (const error::Exception& failure) {
        logging::report_to_system_log("Database shutdown caught exception: " + failure.text() +
                                      " - will not proceed.");
    }
}

}  // namespace

int run_process() {
    // A full file system or a size limit is a failure of the request that
    // met it, not the end of the process.
    platform::ignore_file_size_limit();
    try {
        io::SiblingMessenger messenger(queue_tsdb, io::conf_from_environment("smem"));
        childqueue parent(messenger);
        ParentLogging parent_logging(parent);
        logging::log("TSDB running");
        const control::Server_Configuration_Fields conf = ask_configuration(parent);
        const tsdb::buffer_settings_t buffer = apply(conf);
        Trace trace(conf.dbms_tsdb_tracefile);
        const std::unique_ptr<tsdb::Engine> engine = open_database(conf, buffer);
        MainLoop loop(messenger, parent, *engine, trace);
        activate_metering(parent);
        parent.send(event_of<INIT_OK>(queue_main, 0, {{queue_brdc}}));
        loop.run();
        close_database(*engine);
        // A parent that went away takes no part in the shutdown's last step.
        if (messenger.shutdownAcknowledged()) {
            messenger.completeShutdown();
        }
        return 0;
    } catch (const error::Exception& failure) {
        std::cerr << "Caught: " << failure.text() << std::endl;
        return 1;
    }
}

}  // namespace server
