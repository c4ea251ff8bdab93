// korvex-remote against the real host in-process: long text typed from
// standard input arrives whole and in order; clip states its limit.
#include <sstream>

#include "client/cli.h"
#include "client/text_messages.h"
#include "core/input_text.h"
#include "net/host_fixture.h"

namespace korvex::test {
namespace {

class RemoteCli : public HostFixture {
protected:
    RemoteCli() { remote_env.vars["KORVEX_REMOTE_DIR"] = "/remote"; }

    int run(std::vector<std::string> args, const std::string& input = {}) {
        std::istringstream in(input);
        out.str("");
        err.str("");
        client::CliContext ctx{files, rng, remote_env, in, out, err};
        return client::run_cli(args, ctx);
    }

    void pair() {
        std::string code = net::start_pairing(shared());
        // As the host shows it: two groups of three.
        std::string shown = code.substr(0, 3) + " " + code.substr(3);
        ASSERT_EQ(run({"pair", "--host", "127.0.0.1:" + std::to_string(port()), "--code", shown}), 0) << err.str();
    }

    std::u16string typed() {
        return shared().with_core([&](net::LockedCore&) {
            std::u16string all;
            for (const auto& piece : sink.typed) all += piece;
            return all;
        });
    }

    MemoryFileSystem files;  // the client's own, apart from the host's
    CountingRandom rng{0x51};
    FakeEnvironment remote_env;
    std::ostringstream out, err;
};

TEST_F(RemoteCli, LongTextFromStandardInputArrivesWholeAndInOrder) {
    pair();
    // 100 KB or more: numbered lines with quotes, tabs and characters of two,
    // three and four bytes, so cuts fall near every kind of character and the
    // escapes make the messages longer than their text.
    std::string text;
    for (int line = 0; text.size() < 100 * 1024; ++line)
        text += std::to_string(line) + " \"quoted\"\tcaf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 end\n";
    ASSERT_GT(client::split_text_messages(text).size(), 1u);

    ASSERT_EQ(run({"type", "-"}, text), 0) << err.str();
    const std::u16string expected = utf8_to_utf16(text);
    ASSERT_TRUE(eventually([&] { return typed().size() >= expected.size(); }));
    EXPECT_TRUE(typed() == expected) << "typed " << typed().size() << " units, expected " << expected.size();
    EXPECT_GT(shared().with_core([&](net::LockedCore&) { return sink.typed.size(); }), 1u);
}

TEST_F(RemoteCli, ClipboardTextOverTheLimitIsRefusedWithTheLimit) {
    pair();
    const std::size_t limit = client::clipboard_text_limit(false);
    EXPECT_EQ(run({"clip", std::string(limit + 1, 'x')}), 1);
    EXPECT_EQ(err.str(), "korvex-remote: the text is " + std::to_string(limit + 1) + " bytes; clip takes at most " +
                             std::to_string(limit) + " bytes (type sends longer text as several messages)\n");
    // Quotes are escaped: fewer of them fit.
    EXPECT_EQ(run({"clip", "-"}, std::string(limit / 2 + 1, '"')), 1);
    EXPECT_NE(err.str().find("once its quotes, backslashes and control characters are escaped"), std::string::npos)
        << err.str();

    ASSERT_EQ(run({"clip", std::string(limit, 'x')}), 0) << err.str();
    auto log = wait_for_sink(1);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "clipboard " + std::string(limit, 'x'));
}

}  // namespace
}  // namespace korvex::test
