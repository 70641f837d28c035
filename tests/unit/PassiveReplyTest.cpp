#include <gtest/gtest.h>

#include "platform/PassiveData.h"

namespace {

// Only a port within 1-65535 in the reply's own form is taken; anything else from a hostile
// or broken server is no port at all.
TEST(PassiveReply, GivesThePortOrNone) {
    const struct {
        int code;
        std::string line;
        std::optional<int> port;
    } cases[] = {
        {229, "229 Entering Extended Passive Mode (|||40123|)", 40123},
        {229, "229 ok (!!!2121!)", 2121},
        {229, "229 Entering Extended Passive Mode (|||0|)", std::nullopt},
        {229, "229 Entering Extended Passive Mode (|||70000|)", std::nullopt},
        {229, "229 Entering Extended Passive Mode (||40123|)", std::nullopt},
        {229, "229 Entering Extended Passive Mode (|||40123)", std::nullopt},
        {229, "229 Entering Extended Passive Mode", std::nullopt},
        {227, "227 Entering Passive Mode (127,0,0,1,156,203)", 156 * 256 + 203},
        {227, "227 Entering Passive Mode (10,0,0,9,0,21).", 21},
        {227, "227 Entering Passive Mode (127,0,0,1,256,1)", std::nullopt},
        {227, "227 Entering Passive Mode (127,0,0,1,156)", std::nullopt},
        {227, "227 Entering Passive Mode (127,0,0,1,-1,5)", std::nullopt},
        {227, "227 Entering Passive Mode (127,0,0,1,0,0)", std::nullopt},
        {500, "500 EPSV not understood", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        FtpReply reply;
        reply.code = c.code;
        reply.lines = {c.line};
        EXPECT_EQ(ParsePassivePort(reply), c.port);
    }
}

} // namespace
