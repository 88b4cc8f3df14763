// The transport between the processes of the product (the siblings, by
// queue number; the parent is sibling 0). Bulk data goes through one shared
// pool: each sibling writes only in its own area, a message is a block
// there, and its reader reads it in place and acknowledges it. Only 8-byte
// control messages go through the FIFOs: announcements, acknowledgements
// and the start-up and shutdown protocol.
//
// One messenger plays either role: the child (this process, configured
// from the environment) or the parent (the parent-side library), which
// also assigns areas and answers the child's protocol messages.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "io/control_message.h"
#include "io/pipe_stream.h"
#include "io/pool_area.h"
#include "io/selectable.h"
#include "io/stream.h"

namespace io {

inline constexpr uint32_t pool_magic = 0x71178228;

struct siblingmessenger_conf_t {
    uint32_t mapfile = 0;  // descriptor of the pool
    std::string fifoprefix;
    uint32_t mapsize = 0;
};

// "smem::mapfile", "smem::fifoprefix", "smem::mapsize" for prefix "smem".
siblingmessenger_conf_t conf_from_environment(const std::string& prefix);

class SiblingMessenger final : public StackedSelectableBack {
public:
    enum class Role { child, parent };
    struct AreaOf {
        uint64_t start;
        uint64_t size;
    };

    // The child: maps the pool, publishes its FIFO, sends IAmUp.
    SiblingMessenger(int32_t own, const siblingmessenger_conf_t& conf);
    // The parent: maps the pool, takes its own area at once, publishes its
    // FIFO; `area_for` gives the area of a child that reports itself up.
    SiblingMessenger(const siblingmessenger_conf_t& conf, AreaOf own_area,
                     std::function<AreaOf(int32_t child)> area_for);
    ~SiblingMessenger() override;

    int32_t own() const { return own_; }
    IStream& input(int32_t peer);
    OStream& output(int32_t peer);
    // The sibling whose input is ready: a failed parent first, else the
    // sender of the oldest unread message, else a failed peer.
    int32_t readySibling();
    // Forgets a peer whose stream has ended. The parent of a child whose own
    // shutdown is not complete keeps its pipe: the final AckShutdown is owed.
    void drop(int32_t peer);
    bool known(int32_t peer) const { return siblings_.contains(peer); }
    // Stops reading from the parent, whose stream cannot be read any more
    // (an unreadable event, a message outside its area), and starts this
    // child's shutdown: what was sent to the parent stays until it
    // acknowledges it, and the shutdown ends the parent's stream as usual.
    // For any other peer, as siblingGone().
    void endInput(int32_t peer);
    bool inputEnded(int32_t peer) const;
    // Ends the stream of a peer that is gone (broken pipe, exit, SiblingDied).
    void siblingGone(int32_t peer);
    bool gone(int32_t peer) const;
    // The peer's process: its exit makes the peer gone.
    void watch_process(int32_t peer, int pid);

    void initiateShutdown();
    // The parent acknowledged this child's shutdown, which is not yet complete.
    bool shutdownAcknowledged() const {
        return shutdown_ && shutdown_->acknowledged && !shutdown_->completed;
    }
    void completeShutdown();
    // Parent side: the child sent its final AckShutdown.
    bool completedShutdown(int32_t child) const { return completed_.contains(child); }

    void underlyingIsReady(Selectable& lower) override;

    // Counts for tests and benchmarks.
    size_t unacknowledged() const { return unacked_.size(); }
    uint64_t control_writes() const { return control_writes_; }

private:
    class Sibling;
    class SiblingIStream;
    class SiblingOStream;
    class ProcessWatch;
    class AckFlusher;
    struct Received {
        int32_t from;
        uint64_t offset;
        uint64_t length;
        uint64_t consumed = 0;
    };
    struct Ordered {
        int32_t to;
        ControlMessage message;
    };
    struct Shutdown {
        bool acknowledged = false;
        bool completed = false;
    };

    void map_pool();
    void setup_own_fifo();
    Sibling& sibling(int32_t peer);
    void open_fifo(Sibling& s);
    void init_own_area(AreaOf area);
    void dispatch(const ControlMessage& m);
    bool readable_block(int32_t from, uint64_t block) const;
    void on_message_at(int32_t from, uint64_t block);
    void on_sibling_at(int32_t whose);
    void on_ack(int32_t from, uint64_t block);
    void on_i_am_up(int32_t child);
    void on_init_shutdown(int32_t leaving, int32_t from);
    void on_ack_shutdown(int32_t leaving, int32_t from);
    void release_unacknowledged(int32_t peer);
    bool has_unacknowledged(int32_t peer) const;
    void check_shutdown_progress();
    void send_ordered(int32_t to, ControlMessage m);
    void announce_area(int32_t to, int32_t whose, AreaOf area);
    void pump();
    void refresh_front();
    void read_control_messages();

    // Writing.
    Area<uint8_t> write_begin(Sibling& s);
    void write_commit(Sibling& s, size_t n);
    void write_flush(Sibling& s);
    void announce_message(Sibling& s);
    bool output_ready() const;

    // Reading.
    Received* oldest_from(int32_t peer);
    Area<const uint8_t> read_begin(Sibling& s);
    void read_commit(Sibling& s, size_t n);

    int32_t own_;
    Role role_;
    siblingmessenger_conf_t conf_;
    std::function<AreaOf(int32_t)> area_for_;
    uint8_t* base_ = nullptr;
    std::optional<PoolArea> area_;
    std::string fifo_path_;
    std::string publication_path_;
    std::unique_ptr<PipeIStream> input_signals_;
    std::unique_ptr<AckFlusher> ack_flusher_;
    std::map<int32_t, std::unique_ptr<Sibling>> siblings_;
    std::set<int32_t> completed_;  // children whose shutdown completed
    std::map<int32_t, AreaOf> write_areas_;
    std::map<uint64_t, int32_t> unacked_;
    std::deque<Received> received_;
    std::deque<Ordered> ordered_;
    std::vector<ControlMessage> extra_stack_;
    std::optional<Shutdown> shutdown_;
    Sibling* writing_ = nullptr;  // the peer whose message is being written
    uint64_t message_length_ = 0;
    uint64_t control_writes_ = 0;
};

}  // namespace io
