// A child for transport tests: starts like the database process (area,
// configuration dialog, log line, SUPPORTS_METRICS, INIT_OK), answers every
// request with a copy of itself, and stops by the shutdown protocol. When
// its parent dies instead, it writes "parent gone" to $ECHO_CHILD_GONE_FILE
// and exits with 3.
#include <cstdio>
#include <iostream>

#include "io/error.h"
#include "io/sibling_messenger.h"
#include "log/log.h"
#include "platform/process.h"
#include "queues/childqueue.h"
#include "queues/parent_log_sink.h"

int main() {
    try {
        io::SiblingMessenger messenger(queues::queue_tsdb, io::conf_from_environment("smem"));
        queues::childqueue parent(messenger);
        queues::ParentLogSink sink(parent);
        logging::set_sink(&sink);
        queues::event_of<queues::REQUEST_SERVER_CONFIGURATION> ask(queues::queue_main);
        const auto reply = parent.dialog(ask, queues::SERVER_CONFIGURATION,
                                         "Peer MAIN returned EOS when waiting for "
                                         "control::Server_Configuration");
        const auto& conf = static_cast<const control::Server_Configuration_Fields*>(reply->data);
        logging::log("echo child running for " + conf->dbms_tsdb_file_path);
        parent.send(queues::event_of<queues::SUPPORTS_METRICS>(queues::queue_main, 0));
        parent.send(
            queues::event_of<queues::INIT_OK>(queues::queue_main, 0, {{queues::queue_brdc}}));
        bool stopping = false;
        for (;;) {
            try {
                io::waitReady(parent.front(), util::TimeValue(1, 0));
            } catch (const io::ETimeout&) {
                continue;
            }
            const std::unique_ptr<queues::event> e = parent.next();
            if (!e) {
                if (parent.peerGone(queues::queue_main)) {
                    break;
                }
                continue;
            }
            if (e->type == queues::SYS_EXIT) {
                messenger.initiateShutdown();
                stopping = true;
                continue;
            }
            if (!stopping) {
                parent.send(*e);
            }
        }
        logging::set_sink(nullptr);
        if (!stopping) {
            if (const auto file = platform::environment("ECHO_CHILD_GONE_FILE")) {
                if (std::FILE* f = std::fopen(file->c_str(), "w")) {
                    std::fputs("parent gone", f);
                    std::fclose(f);
                }
            }
            return 3;
        }
        messenger.completeShutdown();
        return 0;
    } catch (const error::Exception& e) {
        std::cerr << "echo child: " << e.text() << "\n";
        return 1;
    }
}
