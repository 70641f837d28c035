#include <gtest/gtest.h>

#include <algorithm>

#include "platform/FtpReply.h"

namespace {

// Serves the bytes in small pieces, as a network would.
FtpReplyReader readerOver(const std::string& bytes, std::size_t piece = 7) {
    auto offset = std::make_shared<std::size_t>(0);
    return FtpReplyReader([bytes, offset, piece](char* buffer, std::size_t capacity) {
        const std::size_t count = std::min({capacity, piece, bytes.size() - *offset});
        std::copy_n(bytes.data() + *offset, count, buffer);
        *offset += count;
        return count;
    });
}

struct ReplyCase {
    const char* name;
    std::string wire;
    ReplyStatus status;
    int code;
    std::size_t lines;
};

class ReplyReading : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyReading, GivesStatusCodeAndLines) {
    const auto& c = GetParam();
    auto reader = readerOver(c.wire);
    FtpReply reply;
    EXPECT_EQ(reader.read(reply), c.status);
    if (c.status == ReplyStatus::Complete) {
        EXPECT_EQ(reply.code, c.code);
        EXPECT_EQ(reply.lines.size(), c.lines);
    }
}

const std::string kMegabyteLine = "220 " + std::string(1 << 20, 'x') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyReading,
    testing::Values(
        ReplyCase{"single", "220 Ready\r\n", ReplyStatus::Complete, 220, 1},
        ReplyCase{"bareCode", "200\r\n", ReplyStatus::Complete, 200, 1},
        ReplyCase{"lineFeedOnly", "331 Password\n", ReplyStatus::Complete, 331, 1},
        ReplyCase{"multiLine", "230-Welcome\r\n230-More\r\n230 Done\r\n", ReplyStatus::Complete,
                  230, 3},
        ReplyCase{"continuationWithoutCode",
                  "211-Features\r\n MDTM\r\n 211 not an end\r\n230 other code\r\n211 End\r\n",
                  ReplyStatus::Complete, 211, 5},
        ReplyCase{"garbage", "HTTP/1.1 400 Bad Request\r\n", ReplyStatus::NotFtp, 0, 0},
        ReplyCase{"codeOutOfRange", "600 what\r\n", ReplyStatus::NotFtp, 0, 0},
        ReplyCase{"codeGluedToText", "220Ready\r\n", ReplyStatus::NotFtp, 0, 0},
        ReplyCase{"emptyLine", "\r\n", ReplyStatus::NotFtp, 0, 0},
        ReplyCase{"eofBeforeAnything", "", ReplyStatus::ConnectionClosed, 0, 0},
        ReplyCase{"eofMidLine", "220 Rea", ReplyStatus::ConnectionClosed, 0, 0},
        ReplyCase{"eofMidMultiLine", "220-one\r\n220-two\r\n", ReplyStatus::ConnectionClosed, 0, 0},
        ReplyCase{"megabyteLine", kMegabyteLine, ReplyStatus::TooLong, 0, 0},
        ReplyCase{"endlessLineWithoutEnd", std::string(1 << 20, '2'), ReplyStatus::TooLong, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyReading, RefusesAMultiLineReplyLargerThanTheCap) {
    std::string wire = "220-start\r\n";
    const std::string line = "220-" + std::string(1000, 'y') + "\r\n";
    while (wire.size() < 2 * FtpReplyReader::kMaxReplySize)
        wire += line;
    wire += "220 end\r\n";
    auto reader = readerOver(wire, 4096);
    FtpReply reply;
    EXPECT_EQ(reader.read(reply), ReplyStatus::TooLong);
}

TEST(ReplyReading, KeepsBytesOfTheNextReplyForTheNextRead) {
    auto reader = readerOver("150 Opening\r\n226 Done\r\n", 4096);
    FtpReply reply;
    ASSERT_EQ(reader.read(reply), ReplyStatus::Complete);
    EXPECT_EQ(reply.code, 150);
    EXPECT_TRUE(reader.hasBufferedData());
    ASSERT_EQ(reader.read(reply), ReplyStatus::Complete);
    EXPECT_EQ(reply.code, 226);
    EXPECT_EQ(reply.text(), "226 Done");
    EXPECT_FALSE(reader.hasBufferedData());
}

FtpReply pwdReply(std::string line, int code = 257) {
    return FtpReply{code, {std::move(line)}};
}

TEST(PwdReply, TakesTheQuotedPathWithDoubledQuotesUndone) {
    EXPECT_EQ(ParsePwdReply(pwdReply("257 \"/\" is current directory")), "/");
    EXPECT_EQ(ParsePwdReply(pwdReply("257 \"7.0/access2\"")), "7.0/access2");
    EXPECT_EQ(ParsePwdReply(pwdReply("257 \"/a \"\"quoted\"\" dir\" ok")), "/a \"quoted\" dir");
    EXPECT_EQ(ParsePwdReply(pwdReply("257-\"/with space\" more follows")), "/with space");
    EXPECT_EQ(ParsePwdReply(pwdReply("257 \"/ends with quote\"\"\"")), "/ends with quote\"");
}

TEST(PwdReply, FailsWithoutAProperQuotedPath) {
    const std::string nul("257 \"/a\0b\"", 10);
    for (const auto& line :
         {std::string("257 /unquoted"), std::string("257 \"/never closed"),
          std::string("257 \"\" empty"), std::string("257 \"/a\rb\""), std::string("257 \"/a\nb\""),
          nul, std::string("257 \"/doubled at end\"\"")})
        EXPECT_FALSE(ParsePwdReply(pwdReply(line))) << line;
    EXPECT_FALSE(ParsePwdReply(pwdReply("550 \"/\" no", 550)));
    EXPECT_FALSE(ParsePwdReply(FtpReply{257, {}}));
}

} // namespace
