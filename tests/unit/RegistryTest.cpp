#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kKey = "SOFTWARE\\Ardenvo\\VelmoraMiniQel";

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { registry::setRoot(m_dir / "registry"); }
    void TearDown() override { registry::setRoot(std::nullopt); }

    fs::path keyDirectory() const {
        return m_dir / "registry" / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "Ardenvo" /
               "VelmoraMiniQel";
    }

    TempDir m_dir;
};

TEST_F(RegistryTest, ValueIsAFileWithItsTerminatingZero) {
    registry::Key key;
    ASSERT_TRUE(key.create(kKey));
    EXPECT_TRUE(fs::is_directory(keyDirectory()));

    const std::string values[] = {"/srv/backups/site 1", "/home/anna/Sicherung Grüße", ""};
    for (const auto& value : values) {
        ASSERT_TRUE(key.setStringValue("Directory", value));
        EXPECT_EQ(readFile(keyDirectory() / "Directory"), value + '\0');
        EXPECT_EQ(key.queryValueSize("Directory"), value.size() + 1);
        EXPECT_EQ(key.queryStringValue("Directory"), value);
    }
    // Nothing but the value itself: the temporary file of the atomic write is gone.
    EXPECT_EQ(std::distance(fs::directory_iterator(keyDirectory()), fs::directory_iterator()), 1);

    registry::Key reader;
    ASSERT_TRUE(reader.create(kKey));
    EXPECT_EQ(reader.queryStringValue("Directory"), "");
}

TEST_F(RegistryTest, ReadingStopsAtTheFirstZeroButTheSizeCountsEveryByte) {
    registry::Key key;
    ASSERT_TRUE(key.create(kKey));
    writeFile(keyDirectory() / "Directory", std::string("/a\0junk\0", 8));
    EXPECT_EQ(key.queryValueSize("Directory"), 8u);
    EXPECT_EQ(key.queryStringValue("Directory"), "/a");
}

TEST_F(RegistryTest, MissingKeyOrValueReadsAsNothing) {
    registry::Key unopened;
    EXPECT_FALSE(unopened.queryValueSize("Directory"));
    EXPECT_FALSE(unopened.queryStringValue("Directory"));
    EXPECT_FALSE(unopened.setStringValue("Directory", "/x"));

    registry::Key key;
    ASSERT_TRUE(key.create(kKey));
    EXPECT_FALSE(key.queryValueSize("Directory"));
    EXPECT_FALSE(key.queryStringValue("Directory"));

    key.close();
    EXPECT_FALSE(key.setStringValue("Directory", "/x"));
}

TEST_F(RegistryTest, DeletingAKeyRemovesItsTree) {
    registry::Key key;
    ASSERT_TRUE(key.create(kKey));
    ASSERT_TRUE(key.setStringValue("Directory", "/srv/b"));
    registry::Key sub;
    ASSERT_TRUE(sub.create(kKey + "\\Sub"));
    ASSERT_TRUE(sub.setStringValue("Other", "v"));

    EXPECT_TRUE(registry::deleteKey(kKey));
    EXPECT_FALSE(fs::exists(keyDirectory()));
    EXPECT_TRUE(fs::is_directory(keyDirectory().parent_path()));
    EXPECT_FALSE(registry::deleteKey(kKey));

    registry::Key again;
    ASSERT_TRUE(again.create(kKey));
    EXPECT_FALSE(again.queryStringValue("Directory"));
}

TEST_F(RegistryTest, NamesCannotLeaveTheRoot) {
    const std::string badKeys[] = {"",   "SOFTWARE\\..\\..",    "SOFTWARE\\\\Ardenvo",
                                   "..", "SOFTWARE\\a/../../b", "SOFTWARE\\"};
    for (const auto& bad : badKeys) {
        registry::Key key;
        EXPECT_FALSE(key.create(bad)) << bad;
        EXPECT_FALSE(registry::deleteKey(bad)) << bad;
    }
    registry::Key key;
    ASSERT_TRUE(key.create(kKey));
    for (const std::string bad : {"", ".", "..", "../x", "a/b"})
        EXPECT_FALSE(key.setStringValue(bad, "v")) << bad;
    EXPECT_TRUE(fs::exists(m_dir / "registry"));
    EXPECT_EQ(std::distance(fs::directory_iterator(keyDirectory()), fs::directory_iterator()), 0);
}

TEST_F(RegistryTest, RootThatCannotBeWrittenFailsSilently) {
    // Directories cannot be made below a regular file, not even by root.
    writeFile(m_dir / "plain", "x");
    registry::setRoot(m_dir / "plain" / "registry");
    registry::Key key;
    EXPECT_FALSE(key.create(kKey));
    EXPECT_FALSE(key.setStringValue("Directory", "/srv/b"));
    EXPECT_FALSE(key.queryStringValue("Directory"));
    EXPECT_FALSE(registry::deleteKey(kKey));
    EXPECT_EQ(readFile(m_dir / "plain"), "x");
}

TEST_F(RegistryTest, DefaultRootFollowsTheConfigurationHome) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> saved =
        savedConfig ? std::optional<std::string>(savedConfig) : std::nullopt;
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    registry::setRoot(std::nullopt);

    struct Case {
        const char* config;
        fs::path expected;
    };
    const Case cases[] = {
        {"/etc/xdg-test", "/etc/xdg-test/velmora-qel/registry"},
        {"", fs::path(home) / ".config/velmora-qel/registry"},
        {"relative/dir", fs::path(home) / ".config/velmora-qel/registry"},
    };
    for (const auto& c : cases) {
        setenv("XDG_CONFIG_HOME", c.config, 1);
        EXPECT_EQ(registry::root(), c.expected) << c.config;
    }
    if (saved)
        setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");

    registry::setRoot(m_dir / "elsewhere");
    EXPECT_EQ(registry::root(), m_dir / "elsewhere");
}

} // namespace
