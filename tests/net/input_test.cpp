// What the input path does around sessions: the Ctrl+Alt+Del reply frame,
// and releasing what an owner held when its session ends or goes quiet.
#include "client/events.h"
#include "core/input_sas.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

using Input = HostFixture;

TEST_F(Input, CtrlAltDelOutcomeComesBackAsSasResult) {
    for (bool by_datagram : {false, true}) {
        for (SasOutcome outcome :
             {SasOutcome::Ok, SasOutcome::PolicyMissing, SasOutcome::NeedsAdmin, SasOutcome::Unavailable}) {
            SCOPED_TRACE(testing::Message() << sas_code(outcome) << (by_datagram ? " by datagram" : " by frame"));
            shared().with_core([&](net::LockedCore&) { sas.outcome = outcome; });
            Client client = paired_client();
            InputEvent cad = numbered(client::edit_command_event(client::kEditCtrlAltDel), 1);
            if (by_datagram) {
                auto sender = client::DatagramSender::open(client.connection);
                ASSERT_TRUE(sender) << sender.error().text;
                cad.flags |= kDatagramAckRequested;
                ASSERT_TRUE(sender->send(cad));
            } else {
                ASSERT_TRUE(client.connection.send_event(cad));
            }
            auto reply = client.connection.receive(MessageType::SasResult, 5s);
            ASSERT_TRUE(reply) << reply.error().text;
            EXPECT_EQ(reply->text(), encode_sas_result(outcome));
            EXPECT_TRUE(client.connection.ping(2)) << "the session goes on";
        }
    }
    EXPECT_EQ(shared().with_core([&](net::LockedCore&) { return sas.calls; }), 8);
}

TEST_F(Input, OwnerSessionEndReleasesHeldInput) {
    Client client = paired_client();
    ASSERT_TRUE(client.connection.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1)));
    ASSERT_TRUE(client.connection.send_event(numbered(client::mouse_button_event(client::MouseButton::Left, true), 2)));
    ASSERT_EQ(wait_for_sink(2), (std::vector<std::string>{"a down", "button 1 down"}));
    client.connection.close();

    auto log = wait_for_sink(4);
    ASSERT_EQ(log.size(), 4u);
    std::vector<std::string> released(log.begin() + 2, log.end());
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, (std::vector<std::string>{"a up", "button 1 up"}));
}

TEST_F(Input, EndOfAnotherSessionKeepsTheOwnersInput) {
    Client owner = paired_client("Phone A");
    Client other = paired_client("Phone B");
    ASSERT_TRUE(owner.connection.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1)));
    ASSERT_EQ(wait_for_sink(1), std::vector<std::string>{"a down"});
    other.connection.close();
    ASSERT_TRUE(eventually([&] { return sessions_of(other.identity.client_id).empty(); }));
    EXPECT_EQ(sink_log(), std::vector<std::string>{"a down"});
}

TEST_F(Input, WatchdogReleasesKeysOfAQuietOwner) {
    Client client = paired_client();
    ASSERT_TRUE(client.connection.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 1)));
    EXPECT_EQ(wait_for_sink(2, 10s), (std::vector<std::string>{"a down", "a up"}));
    EXPECT_EQ(sessions_of(client.identity.client_id).size(), 1u) << "the session itself stays";
}

}  // namespace
}  // namespace korvex::test
