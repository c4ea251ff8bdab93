// The moment a session becomes established: input sent the instant the
// client reads AuthOk or PairComplete is taken, and the lastSeenUnix refresh
// of an authentication is written behind the host's lock.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>

#include "client/events.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using Registration = HostFixture;

InputEvent acked_key(std::uint16_t usage, client::KeyAction action, std::uint64_t seq) {
    InputEvent event = numbered(client::key_event(usage, action), seq);
    event.flags |= kDatagramAckRequested;
    return event;
}

std::size_t count_lines(const std::vector<std::string>& log, const std::string& line) {
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), line));
}

// One try with a long wait: a datagram the host drops is not sent again, so
// a lost first event fails the round instead of hiding behind a resend.
TEST_F(Registration, DatagramSentTheInstantAuthOkArrivesIsTaken) {
    Client paired = paired_client();
    paired.connection.close();
    constexpr int kRounds = 100;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        auto c = connect();
        ASSERT_TRUE(c.authenticate(paired.identity, shared().host_public()));
        auto sender = client::DatagramSender::open(c);
        ASSERT_TRUE(sender) << sender.error().text;
        sender->set_ack_policy(3s, 1);
        auto sent = sender->send(acked_key(0x04, client::KeyAction::Down, 1));
        ASSERT_TRUE(sent) << sent.error().text;
    }
    EXPECT_EQ(count_lines(wait_for_sink(kRounds), "a down"), static_cast<std::size_t>(kRounds));
}

TEST_F(Registration, FrameSentTheInstantPairCompleteArrivesIsTaken) {
    constexpr int kRounds = 30;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        auto c = connect();
        pair(c, "Phone " + std::to_string(round));
        ASSERT_TRUE(c.send_event(numbered(client::key_event(0x05, client::KeyAction::Down), 1)));
        ASSERT_TRUE(c.ping(2)) << "the session must still be up";
    }
    EXPECT_EQ(count_lines(wait_for_sink(kRounds), "b down"), static_cast<std::size_t>(kRounds));
}

// Holds every write of the store file until released.
class StoreGate {
public:
    explicit StoreGate(MemoryFileSystem& fs) : fs_(fs) {
        fs_.before_write = [this](const std::string& path) {
            if (path.find("paired_devices") == std::string::npos) return;
            std::unique_lock lock(mutex_);
            ++waiting_;
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_; });
            --waiting_;
        };
    }
    ~StoreGate() {
        open();
        fs_.before_write = nullptr;
    }
    void close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    bool wait_for_blocked_write(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return waiting_ > 0; });
    }

private:
    MemoryFileSystem& fs_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

TEST_F(Registration, AuthenticationDoesNotWaitForTheStoreWrite) {
    Client typist = paired_client("Typist");
    Client other = paired_client("Other");
    other.connection.close();
    const std::string path = "data/paired_devices.json";
    ASSERT_TRUE(fs.exists(path));

    StoreGate gate(fs);
    gate.close();
    const std::size_t writes_before = shared().store_writer().writes();
    {
        auto c = connect();
        ASSERT_TRUE(c.authenticate(other.identity, shared().host_public()));
        ASSERT_TRUE(c.ping(1)) << "established while the refresh is still unwritten";
    }
    ASSERT_TRUE(gate.wait_for_blocked_write(10s)) << "the refresh is written in the background";

    // The store write is stuck: the lock must be free for everyone's input.
    for (std::uint64_t seq = 1; seq <= 4; ++seq)
        ASSERT_TRUE(typist.connection.send_event(
            numbered(client::key_event(0x06, seq % 2 ? client::KeyAction::Down : client::KeyAction::Up), seq)));
    EXPECT_EQ(wait_for_sink(4), (std::vector<std::string>{"c down", "c up", "c down", "c up"}));

    // A burst of authentications meanwhile: all served, the refreshes merged.
    for (int i = 0; i < 20; ++i) {
        auto c = connect();
        ASSERT_TRUE(c.authenticate(other.identity, shared().host_public())) << i;
    }
    gate.open();
    auto memory_text = [&] {
        return shared().with_core([&](net::LockedCore& locked) {
            return store_file_text(locked.core.store.store_key, locked.core.store.clients);
        });
    };
    EXPECT_TRUE(eventually([&] { return fs.text(path) == memory_text(); })) << "the refresh reaches the file";
    EXPECT_TRUE(eventually([&] { return shared().store_writer().writes() - writes_before >= 2; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(shared().store_writer().writes() - writes_before, 2u)
        << "the write that was held, then one for the whole burst";
}

TEST_F(Registration, RefreshStillWaitingIsWrittenAtShutDown) {
    Client paired = paired_client();
    paired.connection.close();
    StoreGate gate(fs);
    gate.close();
    {
        auto c = connect();
        ASSERT_TRUE(c.authenticate(paired.identity, shared().host_public()));
    }
    ASSERT_TRUE(gate.wait_for_blocked_write(10s));
    // Queued behind the held write while the host shuts down.
    shared().with_core([&](net::LockedCore& locked) {
        find_client(locked.core.store, paired.identity.client_id)->last_seen_unix = 4000000000;
        shared().store_writer().save_soon(locked.core.store);
    });
    std::thread release([&] {
        std::this_thread::sleep_for(200ms);
        gate.open();
    });
    net::stop_host(host);
    release.join();
    PairedStore reloaded = load_store(fs, "data", shared().identity().seed);
    const PairedClientRecord* record = find_client(reloaded, paired.identity.client_id);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->last_seen_unix, 4000000000u);
}

// Shut-down stops the tasks before it releases: a key pressed by a datagram
// in flight during the stop cannot stay down.
TEST_F(Registration, NothingStaysDownAfterShutDownDuringInput) {
    Client client = paired_client();
    auto sender = client::DatagramSender::open(client.connection);
    ASSERT_TRUE(sender) << sender.error().text;
    const Key32 key = *client.connection.session_key();
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        for (std::uint64_t seq = 1; !stop; ++seq) {
            InputEvent down = numbered(client::key_event(static_cast<std::uint16_t>(0x04 + seq % 20),
                                                         client::KeyAction::Down),
                                       seq);
            (void)sender->send_raw(seal_input_datagram(key, down));
            if (seq % 16 == 0) std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_FALSE(wait_for_sink(10).empty());
    net::stop_host(host);
    stop = true;
    flood.join();

    std::map<std::string, bool> down;
    for (const std::string& line : sink.log) {
        auto space = line.rfind(' ');
        down[line.substr(0, space)] = line.substr(space + 1) == "down";
    }
    for (const auto& [name, is_down] : down) EXPECT_FALSE(is_down) << name << " stayed down";
}

}  // namespace
}  // namespace korvex::test

namespace korvex::test {
namespace {

// The writer on its own, with a pool that runs jobs only when told.
struct WriterTest : ::testing::Test {
    MemoryFileSystem fs;
    net::StoreWriter writer{fs};
    std::vector<std::function<void()>> jobs;
    PairedStore store;

    void SetUp() override {
        writer.set_poster([this](std::function<void()> job) { jobs.push_back(std::move(job)); });
        store.dir = "d";
        store.path = "d/paired_devices.json";
        store.store_key.fill(7);
    }
    PairedStore with_last_seen(std::uint64_t seen) {
        PairedStore copy = store;
        copy.clients.push_back({"phone", "Phone", "", std::string(64, 'a'), 1, seen, "127.0.0.1"});
        return copy;
    }
    std::uint64_t last_seen_on_disk() {
        auto clients = parse_store_file(fs.text(store.path), store.store_key);
        return clients && !clients->empty() ? clients->front().last_seen_unix : 0;
    }
};

TEST_F(WriterTest, RefreshesCoalesceIntoOneWriteOfTheNewest) {
    for (std::uint64_t seen = 1; seen <= 5; ++seen) writer.save_soon(with_last_seen(seen));
    ASSERT_EQ(jobs.size(), 1u) << "one write in flight at most";
    EXPECT_EQ(writer.writes(), 0u) << "nothing written on the caller's thread";
    jobs.front()();
    EXPECT_EQ(writer.writes(), 1u);
    EXPECT_EQ(last_seen_on_disk(), 5u);
}

TEST_F(WriterTest, RefreshDuringAWriteWaitsForAJobOfItsOwn) {
    writer.save_soon(with_last_seen(1));
    ASSERT_EQ(jobs.size(), 1u);
    fs.before_write = [&](const std::string&) { writer.save_soon(with_last_seen(2)); };
    auto first = jobs.front();  // the vector grows while it runs
    first();
    fs.before_write = nullptr;
    EXPECT_EQ(last_seen_on_disk(), 1u);
    ASSERT_EQ(jobs.size(), 2u) << "the newer copy is posted again, one delay later";
    jobs.back()();
    EXPECT_EQ(last_seen_on_disk(), 2u);
    EXPECT_EQ(writer.writes(), 2u);
}

TEST_F(WriterTest, ImmediateSaveSupersedesAWaitingRefresh) {
    writer.save_soon(with_last_seen(1));
    ASSERT_TRUE(writer.save_now(with_last_seen(2)));
    jobs.front()();
    EXPECT_EQ(writer.writes(), 1u) << "the older copy is never written over the newer";
    EXPECT_EQ(last_seen_on_disk(), 2u);
}

TEST_F(WriterTest, FlushWritesWhatThePoolNeverRan) {
    writer.save_soon(with_last_seen(9));
    writer.flush();
    EXPECT_EQ(last_seen_on_disk(), 9u);
    jobs.front()();
    EXPECT_EQ(writer.writes(), 1u);
}

}  // namespace
}  // namespace korvex::test
