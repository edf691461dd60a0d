#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "settings/IniFile.h"
#include "support/TempDir.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TEST(IniInteger, Table) {
    const struct {
        const char* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {"0", 0},
        {"123", 123},
        {"00012", 12},
        {"-5", -5},
        {"+7", 7},
        {"0x3E8", 1000},
        {"0X3e8", 1000},
        {"$3E8", 1000},
        {"-0x10", -16},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"0x7FFFFFFF", 2147483647},
        {"0xFFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"0x100000000", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {"1 2", std::nullopt},
        {" 12", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"--1", std::nullopt},
        {"1.5", std::nullopt},
        {"1e3", std::nullopt},
        {"0x1G", std::nullopt},
        {"3E8", std::nullopt},
        {"0b101", std::nullopt},
        {"$-1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseIniInteger(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(IniFile, ReadsIntegersAndBooleansByTheSameRules) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteFile(path,
              "[S]\n"
              "zero=0\ntwo=2\nminus=-1\nno=no\nyes=yes\nempty=\nhex=0x3E8\nquoted=\"42\"\n");
    IniFile ini(path);
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "two", false));
    EXPECT_TRUE(ini.ReadBool("S", "minus", false));
    EXPECT_TRUE(ini.ReadBool("S", "no", true));  // not a number: the default
    EXPECT_FALSE(ini.ReadBool("S", "yes", false));
    EXPECT_TRUE(ini.ReadBool("S", "empty", true));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
    EXPECT_EQ(ini.ReadInteger("S", "hex", 7), 1000);
    EXPECT_EQ(ini.ReadInteger("S", "quoted", 7), 42);
    EXPECT_EQ(ini.ReadInteger("S", "no", 7), 7);
    EXPECT_EQ(ini.ReadString("S", "missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("S", "empty", "dflt"), "");
    EXPECT_FALSE(ini.ReadFailed());
}

TEST(IniFile, WritesSignedDecimalAndOneOrZero) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    IniFile ini(path);
    EXPECT_TRUE(ini.WriteInteger("S", "neg", INT32_MIN));
    EXPECT_TRUE(ini.WriteBool("S", "on", true));
    EXPECT_TRUE(ini.WriteBool("S", "off", false));
    EXPECT_EQ(testsupport::ReadFile(path), "[S]\nneg=-2147483648\non=1\noff=0\n");
    EXPECT_EQ(ini.ReadInteger("S", "neg", 0), INT32_MIN);
}

TEST(IniFile, UnreadableFileGivesDefaultsAndIsRemembered) {
    TempDir dir;
    IniFile ini(dir.path());  // a folder, not a file
    EXPECT_EQ(ini.ReadInteger("S", "k", 5), 5);
    EXPECT_TRUE(ini.ReadFailed());
    EXPECT_FALSE(ini.WriteInteger("S", "k", 1));
}

}  // namespace
