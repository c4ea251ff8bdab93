// Removing a paired device while it is connected, pairing or typing.
#include <condition_variable>

#include "client/events.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using Removal = HostFixture;

// The client sees one SessionClosed "removed_by_user", then the end of the
// stream.
void expect_removed(client::Connection& c) {
    auto message = c.receive(5s);
    ASSERT_FALSE(message) << "unexpected frame of type " << int(message->type);
    EXPECT_EQ(c.last_failure(), client::Failure::Reason);
    EXPECT_EQ(c.last_reason(), "removed_by_user");
    auto after = c.receive_frame(5s);
    EXPECT_FALSE(after);
    EXPECT_EQ(c.last_failure(), client::Failure::Closed);
}

TEST_F(Removal, ConnectedClientIsToldAndDisconnected) {
    Client client = paired_client();
    ASSERT_TRUE(client.connection.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 10)));
    ASSERT_EQ(wait_for_sink(1), std::vector<std::string>{"a down"});

    std::thread tray([&] { net::remove_client(shared(), client.identity.client_id); });
    tray.join();
    expect_removed(client.connection);

    EXPECT_FALSE(stored(client.identity.client_id));
    EXPECT_TRUE(sessions_of(client.identity.client_id).empty());
    EXPECT_EQ(sink_log(), (std::vector<std::string>{"a down", "a up"})) << "a removed owner's keys are released";
    EXPECT_EQ(count_events(HostEvent::Kind::PairedListChanged),
              2u);  // pairing, removal
    EXPECT_TRUE(eventually([&] { return count_events(HostEvent::Kind::DeviceDisconnected) == 1; }));
}

TEST_F(Removal, RemovedClientCannotAuthenticateAgain) {
    Client client = paired_client();
    net::remove_client(shared(), client.identity.client_id);
    expect_removed(client.connection);
    auto c = connect();
    EXPECT_FALSE(c.authenticate(client.identity, shared().host_public()));
    EXPECT_EQ(c.last_reason(), "unpaired");
}

// A removal right after the pairing step (from the DevicePaired event) finds
// the session already registered and ends it.
TEST_F(Removal, RemovalWhilePairingCompletesEndsTheNewSession) {
    client::ClientIdentity identity = client::new_client_identity(os_random());
    on_event([&](const HostEvent& event) {
        if (event.kind == HostEvent::Kind::DevicePaired) net::remove_client(shared(), identity.client_id);
    });
    auto c = connect();
    auto paired = c.pair(identity, net::start_pairing(shared()), "Phone A", "", shared().host_public());
    ASSERT_TRUE(paired) << paired.error().text;
    expect_removed(c);
    EXPECT_FALSE(stored(identity.client_id));
    EXPECT_TRUE(sessions_of(identity.client_id).empty());
    EXPECT_TRUE(input_knows(0));
}

// The sessions end whether or not the shortened list reaches the disk; the
// caller hears that it did not.
TEST_F(Removal, FailedSaveIsReportedAndTheSessionEndsAnyway) {
    Client client = paired_client();
    fs.fail_write = true;
    Status removed = net::remove_client(shared(), client.identity.client_id);
    fs.fail_write = false;
    ASSERT_FALSE(removed);
    EXPECT_NE(removed.error().text.find("could not be saved"), std::string::npos) << removed.error().text;
    EXPECT_NE(removed.error().text.find("write refused"), std::string::npos) << removed.error().text;
    expect_removed(client.connection);
    EXPECT_TRUE(sessions_of(client.identity.client_id).empty());
    auto c = connect();
    EXPECT_FALSE(c.authenticate(client.identity, shared().host_public())) << "refused for the rest of this run";
}

// Holds the host's lock on a thread of its own until released, with the
// device removed inside that step.
class RemovalUnderLock {
public:
    RemovalUnderLock(net::HostShared& host, std::string client_id)
        : thread_([this, &host, client_id] {
              host.with_core([&](net::LockedCore& locked) {
                  net::remove_client(host, locked, client_id);
                  std::unique_lock lock(mutex_);
                  removed_ = true;
                  changed_.notify_all();
                  changed_.wait(lock, [&] { return released_; });
              });
          }) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return removed_; });
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool removed_ = false;
    bool released_ = false;
    std::thread thread_;
};

// Input that reaches the host after the removal but before the session has
// taken its removal command injects nothing, by frame or by datagram.
TEST_F(Removal, InputArrivingAfterRemovalIsNotTaken) {
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        Client client = paired_client();
        auto sender = client::DatagramSender::open(client.connection);
        ASSERT_TRUE(sender) << sender.error().text;

        RemovalUnderLock removal(shared(), client.identity.client_id);
        ASSERT_TRUE(client.connection.send_text("abc"));
        ASSERT_TRUE(client.connection.send_clipboard("secret", true));
        InputEvent down = numbered(client::key_event(0x05, client::KeyAction::Down), 1);
        down.flags |= kDatagramAckRequested;
        auto datagram = seal_input_datagram(*client.connection.session_key(), down);
        ASSERT_TRUE(sender->send_raw(datagram));
        // Gives the session and the datagram task time to queue up on the lock.
        std::this_thread::sleep_for(100ms);
        removal.release();

        expect_removed(client.connection);
        auto ack = sender->receive_raw(300ms);
        ASSERT_TRUE(ack);
        EXPECT_FALSE(*ack) << "a removed client's datagram was acknowledged";
        EXPECT_TRUE(sink_log().empty());
    }
}

}  // namespace
}  // namespace korvex::test
