// Both roles of the messenger in one process, over a real pool and FIFOs;
// protocol breaches are sent to the child as raw control messages.
#include "io/sibling_messenger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <type_traits>

#include "error/anomaly.h"
#include "io/error.h"
#include "platform/descriptor.h"
#include "platform/process.h"
#include "queues/childqueue.h"
#include "queues/event_stream.h"
#include "tests/support/metrics.h"
#include "util/bytes.h"

using namespace io;

namespace {

class Messengers : public ::testing::Test {
public:
    static constexpr uint64_t area = 64 << 10;

protected:
    Messengers() {
        const platform::Opened pool = platform::create_shared_memory(64 + 2 * area);
        fd = pool.fd;
        int failure = 0;
        uint8_t* base = platform::map_shared(fd, 64 + 2 * area, failure);
        util::store_le32(base, pool_magic);
        platform::unmap_shared(base, 64 + 2 * area);
        conf = {static_cast<uint32_t>(fd),
                testing::TempDir() + "messenger" + std::to_string(platform::current_pid()),
                static_cast<uint32_t>(64 + 2 * area)};
        parent = std::make_unique<SiblingMessenger>(
            conf, SiblingMessenger::AreaOf{64, area}, [](int32_t) {
                return SiblingMessenger::AreaOf{64 + area, area};
            });
    }
    ~Messengers() override {
        child.reset();
        parent.reset();
        platform::close_descriptor(fd);
    }

    void start_child() {
        child = std::make_unique<SiblingMessenger>(20, conf);
        settle();
    }
    // Lets both sides handle their control messages.
    void settle() {
        for (int i = 0; i < 5; ++i) {
            for (SiblingMessenger* m : {parent.get(), child.get()}) {
                try {
                    waitReady(m->front(), util::TimeValue(0, 2000));
                } catch (const ETimeout&) {
                }
            }
        }
    }
    void raw_to_child(std::vector<ControlMessage> messages) {
        std::vector<uint8_t> bytes(messages.size() * 8);
        for (size_t i = 0; i < messages.size(); ++i) {
            messages[i].encode(bytes.data() + i * 8);
        }
        const platform::Opened fifo = platform::open_fifo_writer(conf.fifoprefix + ".20.fifo");
        platform::write_some(fifo.fd, bytes.data(), bytes.size());
        platform::close_descriptor(fifo.fd);
        settle();
    }

    int fd = -1;
    siblingmessenger_conf_t conf;
    std::unique_ptr<SiblingMessenger> parent;
    std::unique_ptr<SiblingMessenger> child;
};

ControlMessage valued(ControlType t, uint64_t v) { return ControlMessage::valued(t, v, 0); }
ControlMessage about(ControlType t, int32_t s) { return ControlMessage::about(t, s, 0); }

}  // namespace

TEST_F(Messengers, AnEventCrossesAndTheChildShutsDownByTheProtocol) {
    start_child();
    protocol::ioprim to_parent(nullptr, &child->output(0));
    queues::write_event(to_parent, queues::event_of<queues::INIT_OK>(0, 0, {{queues::queue_brdc}}));
    to_parent.flush();
    EXPECT_EQ(child->unacknowledged(), 1u);
    protocol::ioprim from_child(&parent->input(20), nullptr);
    EXPECT_EQ(queues::read_event(from_child)->type, queues::INIT_OK);
    settle();
    EXPECT_EQ(child->unacknowledged(), 0u);

    // A peer the parent never announced is asked for; the parent has none to give.
    EXPECT_THROW(child->output(5).writeBegin(), ENoConnection);
    settle();
    EXPECT_TRUE(child->gone(5));
    EXPECT_THROW(child->output(5).writeBegin(), EEndOfStream);
    child->drop(5);

    child->initiateShutdown();
    settle();
    // After the parent's acknowledgement the child's input from it ends.
    EXPECT_THROW(child->input(0).readBegin(), EEndOfStream);
    EXPECT_THROW(child->output(0).writeBegin(), EEndOfStream);
    child->completeShutdown();
    settle();
    EXPECT_THROW(parent->input(20).readBegin(), EEndOfStream);
    EXPECT_DEATH(child->completeShutdown(), "Protocol violation; duplicate completeShutdown\\(\\)");
}

TEST_F(Messengers, ProtocolBreachesStopTheChild) {
    start_child();
    EXPECT_DEATH(
        raw_to_child({valued(ControlType::ExtraSize, 8), valued(ControlType::ExtraOffset, 8),
                      about(ControlType::SiblingAt, 3)}),
        "No ExtraOffset on SiblingAt");
    EXPECT_DEATH(
        raw_to_child({valued(ControlType::ExtraOffset, 8), valued(ControlType::ExtraOffset, 8),
                      valued(ControlType::ExtraOffset, 8)}),
        "Too big a stack: ");
    EXPECT_DEATH(raw_to_child({ControlMessage{8, 0}}), "Got MT_Undefined");
    EXPECT_DEATH(raw_to_child({about(ControlType::IAmUp, 0)}), "Got IAmUp but we're a child");
    EXPECT_DEATH(raw_to_child({about(ControlType::AckShutdown, 20)}),
                 "Protocol violation; got AckShutdown unexpectedly");
    EXPECT_DEATH(raw_to_child({valued(ControlType::AckMessageAt, 4096)}),
                 "Not one of my messages: AckMessageAt\\(4096\\)");
    EXPECT_DEATH(child->completeShutdown(), "Protocol violation; premature completeShutdown\\(\\)");
    const platform::Opened fifo = platform::open_fifo_writer(conf.fifoprefix + ".20.fifo");
    const uint8_t twelve[12] = {};
    platform::write_some(fifo.fd, twelve, sizeof twelve);
    platform::close_descriptor(fifo.fd);
    EXPECT_DEATH(settle(), "Read 12 bytes on input FIFO");
}

TEST_F(Messengers, TheEnvironmentAndThePoolAreCheckedAtStart) {
    EXPECT_EQ(std::string([] {
                  try {
                      conf_from_environment("nosuch");
                  } catch (const error::ESystemError& e) {
                      return e.text();
                  }
                  return std::string("(no failure)");
              }()),
              "No mapfile passed in environment");
    const platform::Opened bad = platform::create_shared_memory(4096);
    EXPECT_DEATH(SiblingMessenger(20, {static_cast<uint32_t>(bad.fd), conf.fifoprefix, 4096}),
                 "Wrong header of shared memory pool");
    EXPECT_DEATH(SiblingMessenger(200, conf), "my_sibling_id is out of range.");
    platform::close_descriptor(bad.fd);
}

TEST_F(Messengers, TheParentQueueSetsAsideWhatADialogDidNotWaitFor) {
    start_child();
    queues::childqueue queue(*child);
    protocol::ioprim to_child(nullptr, &parent->output(20));
    const auto send = [&](const queues::event& e) {
        queues::write_event(to_child, e);
        to_child.flush();
        settle();
    };
    using queues::event_of;
    // A request of the parent that happens to share the reply's uid is no reply.
    send(event_of<queues::GET_DATA>(20, 1));
    send(event_of<queues::RETURN_METRIC_UINT64>(20, 2, 5));
    send(event_of<queues::RETURN_METRIC_UINT64>(20, 1, 7));
    const auto reply = queue.awaitReply(1, 0, queues::RETURN_METRIC_UINT64);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(*static_cast<const uint64_t*>(reply->data), 7u);
    EXPECT_TRUE(queue.front().isReady()) << "set-aside events wait for the main loop";
    // A reply already set aside comes at once.
    const uint64_t immediate = testing_support::counter("queues", "noblockings");
    const auto early = queue.awaitReply(2, 0, queues::RETURN_METRIC_UINT64);
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(early->uid, 2u);
    EXPECT_EQ(testing_support::counter("queues", "noblockings") - immediate, 1u);
    const auto request = queue.next();
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->type, queues::GET_DATA);
    EXPECT_EQ(request->dest, 0) << "dest names the queue it came from";

    // A failure reply to a dialog raises the peer's text; the dialog's first uid is 2.
    send(queues::exevent(20, 2, "No such instance"));
    queues::event_of<queues::GET_METRIC> ask(0);
    try {
        queue.dialog(ask, queues::RETURN_METRIC_UINT64, "Peer MAIN returned EOS");
        FAIL() << "no failure";
    } catch (const errors::remote_error& e) {
        EXPECT_EQ(e.text(), "No such instance");
    }
}

TEST_F(Messengers, WhatCannotBeReadEndsTheStreamFromTheParentWithItsReason) {
    start_child();
    queues::childqueue queue(*child);
    protocol::ioprim to_child(nullptr, &parent->output(20));
    to_child.write_u32(300);  // no event has this type
    to_child.write_u32(0);
    to_child.flush();
    settle();
    testing::internal::CaptureStderr();
    EXPECT_EQ(queue.next(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "fdio >> event: unknown type index: 300 old was 0 dest 0\n");
    // Nothing more is read from the parent; the child's own shutdown, which
    // the parent acknowledges, ends the parent's stream.
    EXPECT_TRUE(child->inputEnded(0));
    EXPECT_FALSE(queue.peerGone(0));
    settle();
    EXPECT_TRUE(child->shutdownAcknowledged());
    EXPECT_EQ(queue.next(), nullptr);
    EXPECT_TRUE(queue.peerGone(0));
}

TEST_F(Messengers, WhatWasSentBeforeTheParentsStreamEndsStaysUntilTheParentReadsIt) {
    start_child();
    queues::childqueue queue(*child);
    // A request, and in the same message bytes that are no event.
    protocol::ioprim to_child(nullptr, &parent->output(20));
    queues::write_event(to_child, queues::event_of<queues::GET_DATA>(20, 1));
    to_child.write_u32(300);
    to_child.write_u32(0);
    to_child.flush();
    settle();
    const auto request = queue.next();
    ASSERT_NE(request, nullptr);
    // Its reply leaves before the child meets what follows.
    queue.send(queues::exevent(0, request->uid, "answered"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(queue.next(), nullptr);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(child->unacknowledged(), 1u);
    settle();
    protocol::ioprim from_child(&parent->input(20), nullptr);
    const auto reply = queues::read_event(from_child);
    EXPECT_EQ(reply->uid, request->uid);
    EXPECT_EQ(static_cast<const queues::exevent&>(*reply).text, "answered");
    settle();
    EXPECT_EQ(child->unacknowledged(), 0u);
    EXPECT_TRUE(child->shutdownAcknowledged());
}

class TamperedHeader : public Messengers, public ::testing::WithParamInterface<bool> {};

TEST_P(TamperedHeader, AMessageWhoseHeaderIsNotTheBlockTheParentPlacedEndsItsStream) {
    start_child();
    protocol::ioprim to_child(nullptr, &parent->output(20));
    queues::write_event(to_child, queues::event_of<queues::GET_DATA>(20, 1));
    to_child.flush();
    // Before the child reads it, the block's length is made to claim more:
    // so much that offset and length wrap, or 4096 bytes more than were
    // written, still inside the area.
    int failure = 0;
    uint8_t* base = platform::map_shared(fd, conf.mapsize, failure);
    const uint64_t length = util::load_le64(base + 64 + 8);
    util::store_le64(base + 64 + 8, GetParam() ? ~uint64_t{0} - 64 : length + 4096);
    platform::unmap_shared(base, conf.mapsize);
    testing::internal::CaptureStderr();
    settle();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MessageAt outside the area of sibling 0: offset 64\n");
    EXPECT_TRUE(child->inputEnded(0));
}

INSTANTIATE_TEST_SUITE_P(WrappingOrNot, TamperedHeader, ::testing::Bool());

class MessageOutsideTheArea : public Messengers, public ::testing::WithParamInterface<uint64_t> {};

TEST_P(MessageOutsideTheArea, IsNotReadAndEndsTheSendersStream) {
    start_child();
    testing::internal::CaptureStderr();
    raw_to_child({valued(ControlType::MessageAt, GetParam())});
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "MessageAt outside the area of sibling 0: offset " + std::to_string(GetParam()) + "\n");
    EXPECT_TRUE(child->inputEnded(0));
}

// In the child's own area, in the pool header, and beyond the pool.
INSTANTIATE_TEST_SUITE_P(Offsets, MessageOutsideTheArea,
                         ::testing::Values(64 + Messengers::area + 64, uint64_t{8},
                                           64 + 2 * Messengers::area + 4096));

TEST_F(Messengers, APeerThatFailsIsReportedInItsOwnWords) {
    static_assert(std::is_base_of_v<errors::stdanomaly, ETimeout>);
    static_assert(std::is_base_of_v<errors::stdanomaly, ENotReady>);
    start_child();
    protocol::ioprim to_child(nullptr, &parent->output(20));
    queues::write_event(to_child, queues::event_of<queues::GET_DATA>(20, 1));
    to_child.flush();
    settle();
    child->siblingGone(0);
    // The message still reads, but its acknowledgement has no way back.
    testing::internal::CaptureStderr();
    protocol::ioprim from_parent(&child->input(0), nullptr);
    EXPECT_EQ(queues::read_event(from_parent)->type, queues::GET_DATA);
    EXPECT_EQ(testing::internal::GetCapturedStderr().substr(0, 45),
              " Lost connection on ACK of message at offset ");
    EXPECT_THROW(child->input(0).readBegin(), EEndOfStream);
}

TEST_F(Messengers, AParentThatFailsAfterAcknowledgingTheShutdownTerminatedUnexpectedly) {
    start_child();
    child->initiateShutdown();
    settle();  // the parent's acknowledgement queues the end of its stream
    child->siblingGone(0);
    try {
        child->input(0).readBegin();
        FAIL() << "the stream went on";
    } catch (const error::ESystemError& e) {
        EXPECT_EQ(e.text(), "Sibling 0 terminated unexpectedly");
    }
}
