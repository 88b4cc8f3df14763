#include "io/sibling_messenger.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "error/assert.h"
#include "io/error.h"
#include "platform/descriptor.h"
#include "platform/process.h"
#include "util/bytes.h"
#include "util/error_output.h"
#include "util/format.h"
#include "util/system_error.h"

namespace io {

namespace {

std::string publication_of(const std::string& prefix, int32_t sibling) {
    return prefix + "." + std::to_string(sibling);
}

}  // namespace

siblingmessenger_conf_t conf_from_environment(const std::string& prefix) {
    const auto mapfile = platform::environment(prefix + "::mapfile");
    if (!mapfile) {
        util::raise_system_error("No mapfile passed in environment");
    }
    const auto fifoprefix = platform::environment(prefix + "::fifoprefix");
    if (!fifoprefix) {
        util::raise_system_error("No FIFO prefix passed in environment");
    }
    const auto mapsize = platform::environment(prefix + "::mapsize");
    if (!mapsize) {
        util::raise_system_error("No mapsize passed in environment");
    }
    return {util::parse_u32(*mapfile), *fifoprefix, util::parse_u32(*mapsize)};
}

// The input of one peer: the bytes of its oldest unread message.
class SiblingMessenger::SiblingIStream final : public IStream {
public:
    SiblingIStream(SiblingMessenger& m, Sibling& s) : m_(m), s_(s) {}
    std::string name() const override;
    bool isReady() override;
    StackedSelectableBack* back() override { return &m_; }
    Area<const uint8_t> readBegin() override { return m_.read_begin(s_); }
    void readCommit(size_t n) override { m_.read_commit(s_, n); }

private:
    SiblingMessenger& m_;
    Sibling& s_;
};

// The output to one peer: free room in the own area, announced on flush.
class SiblingMessenger::SiblingOStream final : public OStream {
public:
    SiblingOStream(SiblingMessenger& m, Sibling& s) : m_(m), s_(s) {}
    std::string name() const override;
    bool isReady() override { return m_.output_ready(); }
    StackedSelectableBack* back() override { return &m_; }
    Area<uint8_t> writeBegin() override { return m_.write_begin(s_); }
    void writeCommit(size_t n) override { m_.write_commit(s_, n); }
    void flush() override { m_.write_flush(s_); }

private:
    SiblingMessenger& m_;
    Sibling& s_;
};

// Ready when a peer's process has ended.
class SiblingMessenger::ProcessWatch final : public Selectable {
public:
    ProcessWatch(int fd, int pid) : fd_(fd), pid_(pid) {}
    ~ProcessWatch() override { platform::close_descriptor(fd_); }
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;
    std::string name() const override { return "ProcessWatch"; }
    WaitHandle wait_handle() override { return {fd_, true, false}; }
    bool isReady() override { return ended_; }
    bool handle_signalled() override {
        ended_ = true;
        return false;
    }
    // Without a process descriptor, the parent's end shows as a new parent.
    std::optional<util::TimeValue> deadline() override {
        if (fd_ < 0 && !ended_) {
            ended_ = platform::parent_pid() != pid_;
            return util::TimeValue::now() + util::TimeValue(0, 500000);
        }
        return std::nullopt;
    }

private:
    int fd_;
    int pid_;
    bool ended_ = false;
};

// Sends the acknowledgements gathered since the last wait: the selector
// prepares it before every wait, so that an acknowledgement shares its pipe
// write with whatever is sent next.
class SiblingMessenger::AckFlusher final : public Selectable {
public:
    explicit AckFlusher(SiblingMessenger& m) : m_(m) {}
    std::string name() const override { return "AckFlusher"; }
    bool isReady() override { return false; }
    void prepare() override { m_.pump(); }

private:
    SiblingMessenger& m_;
};

class SiblingMessenger::Sibling {
public:
    Sibling(SiblingMessenger& m, int32_t number) : number(number), in(m, *this), out(m, *this) {}

    int32_t number;
    SiblingIStream in;
    SiblingOStream out;
    std::unique_ptr<PipeOStream> writer;
    std::unique_ptr<ProcessWatch> process;
    bool notified = false;
    bool dead = false;
    bool input_ended = false;  // nothing more is read from it; what we sent stays
    bool shutdown_pending = false;
    std::deque<ControlMessage> unordered;
};

std::string SiblingMessenger::SiblingIStream::name() const {
    return "SiblingIStream(" + std::to_string(s_.number) + ")";
}
bool SiblingMessenger::SiblingIStream::isReady() {
    return s_.dead || m_.oldest_from(s_.number) != nullptr;
}
std::string SiblingMessenger::SiblingOStream::name() const {
    return "SiblingOStream(" + std::to_string(s_.number) + ")";
}

SiblingMessenger::SiblingMessenger(int32_t own, const siblingmessenger_conf_t& conf)
    : StackedSelectableBack("SomeSibling"), own_(own), role_(Role::child), conf_(conf) {
    error::require(own >= -127 && own <= 128, "my_sibling_id is out of range.");
    map_pool();
    setup_own_fifo();
    Sibling& parent = sibling(0);
    open_fifo(parent);
    watch_process(0, platform::parent_pid());
    send_ordered(0, ControlMessage::about(ControlType::IAmUp, 0, own_));
}

SiblingMessenger::SiblingMessenger(const siblingmessenger_conf_t& conf, AreaOf own_area,
                                   std::function<AreaOf(int32_t)> area_for)
    : StackedSelectableBack("SomeSibling"),
      own_(0),
      role_(Role::parent),
      conf_(conf),
      area_for_(std::move(area_for)) {
    map_pool();
    setup_own_fifo();
    write_areas_.emplace(0, own_area);
    init_own_area(own_area);
}

SiblingMessenger::~SiblingMessenger() {
    siblings_.clear();
    input_signals_.reset();
    ack_flusher_.reset();
    platform::remove_file(publication_path_);
    platform::remove_file(fifo_path_);
    platform::unmap_shared(base_, conf_.mapsize);
}

void SiblingMessenger::map_pool() {
    int failure = 0;
    base_ = platform::map_shared(static_cast<int>(conf_.mapfile), conf_.mapsize, failure);
    if (base_ == nullptr) {
        util::raise_system_error("Cannot map view for sibling messenger", failure);
    }
    error::require(conf_.mapsize >= 8 && util::load_le32(base_) == pool_magic,
                   "Wrong header of shared memory pool");
    platform::ignore_broken_pipes();
}

void SiblingMessenger::setup_own_fifo() {
    publication_path_ = publication_of(conf_.fifoprefix, own_);
    fifo_path_ = publication_path_ + ".fifo";
    const platform::Opened fifo = platform::create_fifo(fifo_path_);
    if (fifo.fd < 0) {
        util::raise_system_error("Cannot create anonymous pipe", fifo.error);
    }
    input_signals_ = std::make_unique<PipeIStream>(fifo.fd, "InputSignalReader");
    watch(input_signals_.get(), true);
    ack_flusher_ = std::make_unique<AckFlusher>(*this);
    watch(ack_flusher_.get(), true);
    const int failure = platform::publish_file(
        publication_path_, std::to_string(platform::current_pid()) + ":" + fifo_path_);
    if (failure != 0) {
        util::raise_system_error("Cannot open file " + publication_path_, failure);
    }
}

SiblingMessenger::Sibling& SiblingMessenger::sibling(int32_t peer) {
    auto& s = siblings_[peer];
    if (!s) {
        s = std::make_unique<Sibling>(*this, peer);
    }
    return *s;
}

void SiblingMessenger::open_fifo(Sibling& s) {
    if (s.writer) {
        error::assertion_failed("Sibling " + std::to_string(own_) +
                                " openFifo called with open FIFO for sibling " +
                                std::to_string(s.number));
    }
    int failure = 0;
    const std::optional<std::string> published =
        platform::read_small_file(publication_of(conf_.fifoprefix, s.number), failure);
    unsigned pid = 0;
    int consumed = 0;
    if (!published || std::sscanf(published->c_str(), "%u:%n", &pid, &consumed) != 1 ||
        consumed == 0) {
        util::raise_system_error(
            "Cannot open sibling id " + std::to_string(s.number) + " FIFO for writing",
            failure != 0 ? failure : EINVAL);
    }
    std::string path = published->substr(static_cast<size_t>(consumed));
    if (!path.empty() && path.back() == '\n') {
        path.pop_back();
    }
    const platform::Opened fifo = platform::open_fifo_writer(path);
    if (fifo.fd < 0) {
        util::raise_system_error(
            "Cannot duplicate sibling id " + std::to_string(s.number) + " FIFO for writing",
            fifo.error);
    }
    s.writer = std::make_unique<PipeOStream>(fifo.fd, "OutputSignalWriter");
    if (role_ == Role::parent) {
        watch_process(s.number, static_cast<int>(pid));
    }
}

void SiblingMessenger::watch_process(int32_t peer, int pid) {
    Sibling& s = sibling(peer);
    if (s.process) {
        watch(s.process.get(), false);
    }
    s.process = std::make_unique<ProcessWatch>(platform::watch_process(pid), pid);
    watch(s.process.get(), true);
}

void SiblingMessenger::init_own_area(AreaOf area) {
    area_.emplace(PoolView(base_, conf_.mapsize), area.start, area.size);
    refresh_front();
}

IStream& SiblingMessenger::input(int32_t peer) { return sibling(peer).in; }
OStream& SiblingMessenger::output(int32_t peer) { return sibling(peer).out; }

bool SiblingMessenger::gone(int32_t peer) const {
    const auto found = siblings_.find(peer);
    return found == siblings_.end() || found->second->dead;
}

// ---- control messages ----

void SiblingMessenger::underlyingIsReady(Selectable& lower) {
    if (&lower == input_signals_.get()) {
        read_control_messages();
    }
    for (auto& [number, s] : siblings_) {
        if (s->process && &lower == s->process.get()) {
            watch(s->process.get(), false);
            siblingGone(number);
            break;
        }
        if (s->writer && &lower == s->writer.get()) {
            break;
        }
    }
    pump();
    refresh_front();
}

void SiblingMessenger::read_control_messages() {
    const Area<const uint8_t> bytes = input_signals_->readBegin();
    if (bytes.size % ControlMessage::size != 0) {
        error::assertion_failed("Read " + util::format_u64(bytes.size) + " bytes on input FIFO");
    }
    for (size_t at = 0; at < bytes.size; at += ControlMessage::size) {
        const ControlMessage m = ControlMessage::decode(bytes.data + at);
        input_signals_->readCommit(ControlMessage::size);
        dispatch(m);
    }
}

void SiblingMessenger::dispatch(const ControlMessage& m) {
    const auto from = static_cast<int32_t>(m.from);
    switch (m.type()) {
        case ControlType::Undefined:
            error::assertion_failed("Got MT_Undefined");
        case ControlType::MessageAt:
            on_message_at(from, m.value());
            return;
        case ControlType::AckMessageAt:
            on_ack(from, m.value());
            return;
        case ControlType::ExtraOffset:
        case ControlType::ExtraSize:
        case ControlType::ExtraSiblingId:
            extra_stack_.push_back(m);
            if (extra_stack_.size() > 2) {
                std::string dump;
                for (const ControlMessage& e : extra_stack_) {
                    dump.append(" ").append(e.text());
                }
                error::assertion_failed("Too big a stack: " + dump);
            }
            return;
        case ControlType::SiblingAt:
            on_sibling_at(m.sibling());
            return;
        case ControlType::RequestPeer:
            error::require(role_ == Role::parent, "Got RequestPeer but we're a child");
            send_ordered(from, ControlMessage::about(ControlType::SiblingDied, m.sibling(), own_));
            return;
        case ControlType::IAmUp:
            error::require(role_ == Role::parent, "Got IAmUp but we're a child");
            on_i_am_up(from);
            return;
        case ControlType::InitShutdown:
            on_init_shutdown(m.sibling(), from);
            return;
        case ControlType::AckShutdown:
            on_ack_shutdown(m.sibling(), from);
            return;
        case ControlType::SiblingDied:
            error::require(role_ == Role::child, "MT_SiblingDied not valid to parent");
            release_unacknowledged(m.sibling());
            siblingGone(m.sibling());
            return;
    }
}

// Whether `block` is a used block of the sender's announced area whose
// claimed length ends where the area's tiling has its next block. The
// arithmetic cannot wrap, whatever the offsets and lengths say.
bool SiblingMessenger::readable_block(int32_t from, uint64_t block) const {
    const auto area = write_areas_.find(from);
    if (area == write_areas_.end()) {
        return false;
    }
    const auto [start, size] = area->second;
    if (start > conf_.mapsize || size > conf_.mapsize - start || block < start ||
        block - start > size || size - (block - start) < block_header_size) {
        return false;
    }
    const PoolView pool(base_, conf_.mapsize);
    const uint64_t room = size - (block - start) - block_header_size;
    if (!pool.used(block) || pool.length(block) > room) {
        return false;
    }
    const uint64_t next = pool.next_offset(block);
    const uint64_t end = start + size;
    return next == end ||
           (next < end && end - next >= block_header_size && pool.prev_offset(next) == block);
}

// A block that is not one the sender placed in its own area is not read:
// it would be another sibling's data, or no data at all. The sender's
// stream ends.
void SiblingMessenger::on_message_at(int32_t from, uint64_t block) {
    Sibling& s = sibling(from);
    if (s.input_ended) {
        // Nothing more is read from it; its block goes back at once.
        s.unordered.push_back(ControlMessage::valued(ControlType::AckMessageAt, block, own_));
        return;
    }
    if (!readable_block(from, block)) {
        util::write_error_line("MessageAt outside the area of sibling " + util::format_u64(from) +
                               ": offset " + util::format_u64(block));
        endInput(from);
        return;
    }
    received_.push_back({from, block, PoolView(base_, conf_.mapsize).length(block)});
}

void SiblingMessenger::endInput(int32_t peer) {
    if (role_ == Role::parent || peer != 0) {
        siblingGone(peer);
        return;
    }
    Sibling& s = sibling(peer);
    s.input_ended = true;
    // What it sent and was not read goes back unread.
    std::erase_if(received_, [&](const Received& r) {
        if (r.from != peer || r.length == 0) {
            return false;
        }
        s.unordered.push_back(ControlMessage::valued(ControlType::AckMessageAt, r.offset, own_));
        return true;
    });
    refresh_front();
    if (!shutdown_) {
        initiateShutdown();
    }
}

bool SiblingMessenger::inputEnded(int32_t peer) const {
    const auto found = siblings_.find(peer);
    return found != siblings_.end() && found->second->input_ended;
}

void SiblingMessenger::on_sibling_at(int32_t whose) {
    if (extra_stack_.size() != 2) {
        error::assertion_failed("Stack size is " + util::format_u64(extra_stack_.size()) +
                                " on SiblingAt");
    }
    error::require(extra_stack_[0].type() == ControlType::ExtraOffset,
                   "No ExtraOffset on SiblingAt");
    error::require(extra_stack_[1].type() == ControlType::ExtraSize, "No ExtraSize on SiblingAt");
    const AreaOf area{extra_stack_[0].value(), extra_stack_[1].value()};
    extra_stack_.clear();
    error::require(write_areas_.emplace(whose, area).second,
                   "Failed insertion in into write_areas");
    if (whose == own_) {
        init_own_area(area);
    } else if (whose != 0 && own_ != 0) {
        Sibling& s = sibling(whose);
        if (!s.writer) {
            open_fifo(s);
        }
        s.notified = area_.has_value();
    } else {
        sibling(whose).notified = true;
    }
}

void SiblingMessenger::on_ack(int32_t from, uint64_t block) {
    const auto found = unacked_.find(block);
    if (gone(from) && found == unacked_.end()) {
        return;  // discarding ACK from dead sibling
    }
    if (found == unacked_.end()) {
        error::assertion_failed("Not one of my messages: AckMessageAt(" + util::format_u64(block) +
                                ")");
    }
    unacked_.erase(found);
    area_->release(block);
    for (auto& [number, s] : siblings_) {
        if (s->shutdown_pending && !has_unacknowledged(number)) {
            s->shutdown_pending = false;
            send_ordered(0, ControlMessage::about(ControlType::AckShutdown, number, own_));
        }
    }
    check_shutdown_progress();
}

// The parent side: give the child its area, then tell it the parent's own.
void SiblingMessenger::on_i_am_up(int32_t child) {
    const AreaOf area = area_for_(child);
    if (area.size % 8 != 0) {
        error::assertion_failed("Slice size for sibling id " + std::to_string(child) +
                                " is not 8 byte aligned!");
    }
    Sibling& s = sibling(child);
    if (!s.writer) {
        open_fifo(s);
    }
    write_areas_[child] = area;
    s.notified = true;
    announce_area(child, child, area);
    announce_area(child, 0, write_areas_.at(0));
}

void SiblingMessenger::announce_area(int32_t to, int32_t whose, AreaOf area) {
    send_ordered(to, ControlMessage::valued(ControlType::ExtraOffset, area.start, own_));
    send_ordered(to, ControlMessage::valued(ControlType::ExtraSize, area.size, own_));
    send_ordered(to, ControlMessage::about(ControlType::SiblingAt, whose, own_));
}

void SiblingMessenger::on_init_shutdown(int32_t leaving, int32_t from) {
    if (role_ == Role::parent) {
        // No other children to relay to: the shutdown is acknowledged at once.
        send_ordered(from, ControlMessage::about(ControlType::AckShutdown, leaving, own_));
        return;
    }
    const auto found = siblings_.find(leaving);
    error::require(found != siblings_.end(), "si is end");
    if (has_unacknowledged(leaving)) {
        found->second->shutdown_pending = true;
        return;
    }
    siblingGone(leaving);
    send_ordered(0, ControlMessage::about(ControlType::AckShutdown, leaving, own_));
}

void SiblingMessenger::on_ack_shutdown(int32_t leaving, int32_t from) {
    if (role_ == Role::parent) {
        if (leaving == from) {
            completed_.insert(from);
            siblingGone(from);
        }
        return;
    }
    error::require(shutdown_.has_value() && !shutdown_->acknowledged,
                   "Protocol violation; got AckShutdown unexpectedly");
    shutdown_->acknowledged = true;
    check_shutdown_progress();
}

void SiblingMessenger::check_shutdown_progress() {
    if (!shutdown_ || !shutdown_->acknowledged || shutdown_->completed || !unacked_.empty()) {
        return;
    }
    for (auto& [number, s] : siblings_) {
        if (std::none_of(received_.begin(), received_.end(), [n = number](const Received& r) {
                return r.from == n && r.length == 0;
            })) {
            received_.push_back({number, 0, 0});
        }
    }
    refresh_front();
}

void SiblingMessenger::initiateShutdown() {
    error::require(!shutdown_.has_value(), "Shutdown already in progress...");
    shutdown_ = Shutdown{};
    send_ordered(0, ControlMessage::about(ControlType::InitShutdown, own_, own_));
}

void SiblingMessenger::completeShutdown() {
    error::require(shutdown_.has_value() && shutdown_->acknowledged,
                   "Protocol violation; premature completeShutdown()");
    error::require(!shutdown_->completed, "Protocol violation; duplicate completeShutdown()");
    send_ordered(0, ControlMessage::about(ControlType::AckShutdown, own_, own_));
    shutdown_->completed = true;
    for (auto& [number, s] : siblings_) {
        s->notified = false;
    }
    // The last message must leave before the process does.
    const util::TimeValue until = util::TimeValue::now() + util::TimeValue(1, 0);
    Sibling& parent = sibling(0);
    while (parent.writer && parent.writer->error() == 0 &&
           (!parent.writer->idle() || !ordered_.empty()) && util::TimeValue::now() <= until) {
        std::vector<platform::PollItem> items{{parent.writer->wait_handle().fd, false, true}};
        platform::poll_descriptors(items, 10);
        parent.writer->handle_signalled();
        pump();
    }
}

void SiblingMessenger::siblingGone(int32_t peer) {
    Sibling& s = sibling(peer);
    if (s.dead) {
        return;  // Double siblingGone() marking, exiting early.
    }
    s.dead = true;
    s.unordered.clear();
    std::erase_if(ordered_, [peer](const Ordered& o) { return o.to == peer; });
    if (s.writer) {
        watch(s.writer.get(), false);
        s.writer.reset();
    }
    release_unacknowledged(peer);
    if (writing_ == &s) {
        writing_ = nullptr;
        message_length_ = 0;
    }
    check_shutdown_progress();
    refresh_front();
}

void SiblingMessenger::drop(int32_t peer) {
    const auto found = siblings_.find(peer);
    if (found == siblings_.end()) {
        return;
    }
    if (peer == 0 && role_ == Role::child && shutdown_ && !shutdown_->completed &&
        !found->second->dead) {
        std::erase_if(received_, [](const Received& r) { return r.from == 0; });
        refresh_front();
        return;
    }
    siblingGone(peer);
    if (found->second->process) {
        watch(found->second->process.get(), false);
    }
    std::erase_if(received_, [peer](const Received& r) { return r.from == peer; });
    siblings_.erase(found);
    refresh_front();
}

void SiblingMessenger::send_ordered(int32_t to, ControlMessage m) {
    ordered_.push_back({to, m});
    pump();
}

// Moves queued control messages into the peers' pipes: each peer's own
// first, then the shared queue's head while it is addressed to that peer.
void SiblingMessenger::pump() {
    for (bool moved = true; moved;) {
        moved = false;
        while (!ordered_.empty() && gone(ordered_.front().to)) {
            ordered_.pop_front();
            moved = true;
        }
        for (auto& entry : siblings_) {
            // Named, not bound: the lambda below captures them.
            const auto number = entry.first;
            auto& s = entry.second;
            if (!s->writer || s->dead) {
                continue;
            }
            size_t written = 0;
            const auto put = [&](const ControlMessage& m) {
                const Area<uint8_t> room = s->writer->writeBegin();
                if (room.size < ControlMessage::size) {
                    return false;
                }
                m.encode(room.data);
                s->writer->writeCommit(ControlMessage::size);
                ++written;
                return true;
            };
            while (!s->unordered.empty() && put(s->unordered.front())) {
                s->unordered.pop_front();
            }
            while (!ordered_.empty() && ordered_.front().to == number &&
                   put(ordered_.front().message)) {
                ordered_.pop_front();
            }
            if (written > 0) {
                s->writer->flush();
                ++control_writes_;
                moved = true;
            }
            if (s->writer->error() != 0) {
                siblingGone(number);
                moved = true;
                break;
            }
            watch(s->writer.get(), !s->writer->idle());
        }
    }
}

void SiblingMessenger::refresh_front() {
    bool ready = !received_.empty();
    for (const auto& [number, s] : siblings_) {
        ready = ready || s->dead;
    }
    set_front_ready(ready);
}

int32_t SiblingMessenger::readySibling() {
    if (role_ == Role::child && gone(0) && known(0)) {
        return 0;
    }
    if (!received_.empty()) {
        return received_.front().from;
    }
    for (const auto& [number, s] : siblings_) {
        if (s->dead) {
            return number;
        }
    }
    error::assertion_failed("dequeue SomeSibling on empty list without process error");
}

// ---- writing ----

bool SiblingMessenger::output_ready() const {
    return area_.has_value() && area_->search_offset() != no_free_block;
}

Area<uint8_t> SiblingMessenger::write_begin(Sibling& s) {
    if (s.dead) {
        throw EEndOfStream("Write to failed process");
    }
    if (shutdown_ && shutdown_->acknowledged) {
        throw EEndOfStream("Write disabled due to acknowledged shutdown");
    }
    if (shutdown_ && s.number != 0) {
        throw EEndOfStream("Write to non-parent disabled during shutdown");
    }
    if (!s.writer) {
        // The parent has not announced this peer: a child asks for it.
        if (role_ == Role::child) {
            send_ordered(0, ControlMessage::about(ControlType::RequestPeer, s.number, own_));
        }
        throw ENoConnection("No connection to other SiblingMessenger");
    }
    if (writing_ != nullptr && writing_ != &s) {
        write_flush(*writing_);
        error::require(writing_ == nullptr, "Even after flush, our unnotified sibling still exist");
    }
    if (!output_ready()) {
        return {};
    }
    // A rest too short for any value ends the message; writing goes on in
    // the next free block.
    if (message_length_ > 0 && area_->writable() - message_length_ < 8) {
        announce_message(s);
        if (!output_ready()) {
            return {};
        }
    }
    const uint64_t at = area_->search_offset() + block_header_size + message_length_;
    const uint64_t size = area_->writable() - message_length_;
    error::require(size > 0, "No space available in SiblingOStream::writeBegin()");
    writing_ = &s;
    return {area_->at(at, size), size};
}

void SiblingMessenger::write_commit(Sibling& s, size_t n) {
    error::require(writing_ == &s, "Commit without an OStream writing");
    if (message_length_ + n > area_->writable()) {
        error::assertion_failed("Overcommit in SiblingOStream");
    }
    message_length_ += n;
}

void SiblingMessenger::write_flush(Sibling& s) {
    if (writing_ == &s && message_length_ > 0) {
        announce_message(s);
    }
    if (writing_ == &s) {
        writing_ = nullptr;
    }
}

void SiblingMessenger::announce_message(Sibling& s) {
    const uint64_t block = area_->place(message_length_);
    message_length_ = 0;
    writing_ = nullptr;
    unacked_.emplace(block, s.number);
    send_ordered(s.number, ControlMessage::valued(ControlType::MessageAt, block, own_));
}

// ---- reading ----

SiblingMessenger::Received* SiblingMessenger::oldest_from(int32_t peer) {
    for (Received& r : received_) {
        if (r.from == peer) {
            return &r;
        }
    }
    return nullptr;
}

Area<const uint8_t> SiblingMessenger::read_begin(Sibling& s) {
    Received* r = oldest_from(s.number);
    if (r == nullptr) {
        if (s.dead) {
            throw EEndOfStream("EOS from " + s.in.name());
        }
        return {};
    }
    if (r->length == 0) {
        if (s.dead && r == &received_.front()) {
            throw error::ESystemError("Sibling " + util::format_u64(s.number) +
                                      " terminated unexpectedly");
        }
        throw EEndOfStream("EOS from " + s.in.name() + " (readBegin encountered the null message)");
    }
    const uint64_t at = r->offset + block_header_size + r->consumed;
    const uint64_t size = r->length - r->consumed;
    return {PoolView(base_, conf_.mapsize).at(at, size), size};
}

void SiblingMessenger::read_commit(Sibling& s, size_t n) {
    Received* r = oldest_from(s.number);
    error::require(r != nullptr, "Read committed with no messages in queue");
    if (n > r->length - r->consumed) {
        error::assertion_failed("Cannot commit more read data than what there was");
    }
    r->consumed += n;
    if (r->consumed < r->length) {
        return;
    }
    const uint64_t block = r->offset;
    received_.erase(received_.begin() + (r - &received_.front()));
    if (s.dead) {
        util::write_error_line(" Lost connection on ACK of message at offset " +
                               util::format_u64(block) + " for sibling " +
                               util::format_u64(s.number));
    } else {
        s.unordered.push_back(ControlMessage::valued(ControlType::AckMessageAt, block, own_));
    }
    refresh_front();
}

// Blocks sent to a peer that will never acknowledge them go back to the area.
void SiblingMessenger::release_unacknowledged(int32_t peer) {
    std::erase_if(unacked_, [&](const auto& sent) {
        if (sent.second != peer) {
            return false;
        }
        area_->release(sent.first);
        return true;
    });
}

bool SiblingMessenger::has_unacknowledged(int32_t peer) const {
    return std::any_of(unacked_.begin(), unacked_.end(),
                       [peer](const auto& sent) { return sent.second == peer; });
}

}  // namespace io
