#include <gtest/gtest.h>

#include "platform/HostEntry.h"

namespace {

struct HostCase {
    std::string entry;
    bool valid;
    std::string host;
    int port;
};

class HostEntryForms : public testing::TestWithParam<HostCase> {};

TEST_P(HostEntryForms, ParsesOrRejects) {
    const auto& c = GetParam();
    const auto parsed = ParseHostEntry(c.entry, 21);
    ASSERT_EQ(parsed.has_value(), c.valid) << c.entry;
    if (c.valid) {
        EXPECT_EQ(parsed->host, c.host);
        EXPECT_EQ(parsed->port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, HostEntryForms,
    testing::Values(HostCase{"velmora", true, "velmora", 21},
                    HostCase{"velmora.example.com:2121", true, "velmora.example.com", 2121},
                    HostCase{"10.0.0.5", true, "10.0.0.5", 21},
                    HostCase{"10.0.0.5:65535", true, "10.0.0.5", 65535},
                    HostCase{"[::1]:2121", true, "::1", 2121}, HostCase{"[::1]", true, "::1", 21},
                    HostCase{"fe80::1", true, "fe80::1", 21},
                    HostCase{"2001:db8::5", true, "2001:db8::5", 21}, HostCase{"", false, "", 0},
                    HostCase{"host:", false, "", 0}, HostCase{":21", false, "", 0},
                    HostCase{"host:0", false, "", 0}, HostCase{"host:65536", false, "", 0},
                    HostCase{"host:21x", false, "", 0}, HostCase{"host:-1", false, "", 0},
                    HostCase{"[::1", false, "", 0}, HostCase{"[]:21", false, "", 0},
                    HostCase{"[::1]x", false, "", 0}, HostCase{"two words", false, "", 0},
                    HostCase{"host\r\n", false, "", 0}));

TEST(HostEntry, UsesTheGivenDefaultPort) {
    EXPECT_EQ(ParseHostEntry("velmora", 2100)->port, 2100);
    EXPECT_EQ(ParseHostEntry("velmora:21", 2100)->port, 21);
}

} // namespace
