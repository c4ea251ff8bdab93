// The control interface the tray and the console use: the status snapshot
// and the removal of a device, against a real host.
#include "net/host_control.h"

#include "client/events.h"
#include "core/pad_mapping_file.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

class Control : public HostFixture {
protected:
    net::HostControl control() { return net::HostControl(host.shared, fs, "data"); }
};

TEST_F(Control, StatusListsDevicesInStoreOrderWithOnlineFlagsAndTheController) {
    Client a = paired_client("Phone A");
    client::ClientIdentity b_identity;
    {
        Client b = paired_client("Phone B");
        b_identity = b.identity;
    }  // B's connection ends
    ASSERT_TRUE(eventually([&] { return sessions_of(b_identity.client_id).empty(); }));

    net::HostStatus s = control().status();
    EXPECT_EQ(s.host_name, "TEST-PC");
    EXPECT_EQ(s.lan_text, "192.168.1.20");
    EXPECT_EQ(s.tailscale_text, "Not connected");
    ASSERT_EQ(s.devices.size(), 2u);
    EXPECT_EQ(s.devices[0].name, "Phone A");
    EXPECT_EQ(s.devices[0].client_id, a.identity.client_id);
    EXPECT_TRUE(s.devices[0].online);
    EXPECT_EQ(s.devices[1].name, "Phone B");
    EXPECT_FALSE(s.devices[1].online);
    EXPECT_FALSE(s.controller);
    EXPECT_FALSE(s.pad.virtual_pad_plugged);
    EXPECT_EQ(s.pad.output, PadOutputMode::KeyboardMouse);

    ASSERT_TRUE(a.connection.send_event(numbered(client::key_event(0x04, client::KeyAction::Down), 10)));
    ASSERT_EQ(wait_for_sink(1).size(), 1u);
    EXPECT_EQ(control().status().controller, "Phone A");

    control().release_held_input();
    EXPECT_EQ(sink_log(), (std::vector<std::string>{"a down", "a up"}));
}

TEST_F(Control, RemoveDeviceEndsItsSessionAndShortensTheList) {
    Client a = paired_client("Phone A");
    Client b = paired_client("Phone B");
    EXPECT_TRUE(control().remove_device(a.identity.client_id));
    EXPECT_FALSE(a.connection.receive(5s));
    EXPECT_EQ(a.connection.last_reason(), "removed_by_user");
    net::HostStatus s = control().status();
    ASSERT_EQ(s.devices.size(), 1u);
    EXPECT_EQ(s.devices[0].name, "Phone B");
    // An id that is not (or no longer) paired changes nothing.
    EXPECT_TRUE(control().remove_device(a.identity.client_id));
    EXPECT_EQ(control().status().devices.size(), 1u);
}

TEST_F(Control, RemovalThatCannotBeSavedSaysSoAndStillDisconnects) {
    Client a = paired_client("Phone A");
    fs.fail_write = true;
    Status removed = control().remove_device(a.identity.client_id);
    ASSERT_FALSE(removed);
    EXPECT_NE(removed.error().text.find("could not be saved"), std::string::npos) << removed.error().text;
    EXPECT_FALSE(a.connection.receive(5s));
    EXPECT_EQ(a.connection.last_reason(), "removed_by_user");
    EXPECT_TRUE(control().status().devices.empty());
}

// The mapping window's Save: active at once, then written; a failed write
// leaves it active and says so.
TEST_F(Control, AnEditedMappingIsInstalledThenWritten) {
    GamepadMapping edited = preset_mapping(Preset::Arrows, PadOutputMode::KeyboardMouse);
    edited.bindings[0] = Binding::key(0x0E, kMapCtrl);
    edited.preset = Preset::Custom;
    ASSERT_TRUE(control().install_mapping(edited));
    EXPECT_EQ(control().mapping(), edited);
    EXPECT_EQ(load_mapping(fs, "data"), edited);

    GamepadMapping next = edited;
    next.left_stick.invert_y = true;
    fs.fail_write = true;
    EXPECT_FALSE(control().install_mapping(next));
    EXPECT_EQ(control().mapping(), next);
    fs.fail_write = false;
    EXPECT_EQ(load_mapping(fs, "data"), edited);
}

}  // namespace
}  // namespace korvex::test
