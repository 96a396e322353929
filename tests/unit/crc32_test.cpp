#include <gtest/gtest.h>

#include <string>

#include "filesvc/crc32.h"

static uint32_t crc_of(const std::string &text) {
    crc32_reset(0);
    crc32_update(text.data(), (uint32_t)text.size());
    return crc32_final();
}

class Crc32 : public ::testing::Test {
  protected:
    void SetUp() override {
        crc32_build_table();
    }
};

TEST_F(Crc32, StandardCheckValues) {
    struct {
        const char *text;
        uint32_t crc;
    } cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"abc", 0x352441C2u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.crc, crc_of(c.text)) << '"' << c.text << '"';
    EXPECT_EQ(0x2144DF1Cu, crc_of(std::string(4, '\0')));
    EXPECT_EQ(0xFFFFFFFFu, crc_of(std::string(4, '\xFF')));
}

TEST_F(Crc32, TableMatchesTheUsualConstruction) {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; bit++)
            r = (r >> 1) ^ ((r & 1) ? 0xEDB88320u : 0);
        ASSERT_EQ(r, crc32_table[i]) << "entry " << i;
    }
    EXPECT_EQ(0x77073096u, crc32_table[1]);
    EXPECT_EQ(0xEDB88320u, crc32_table[128]);
}

TEST_F(Crc32, SplitUpdatesGiveTheWholeResult) {
    std::string text;
    for (int i = 0; i < 300; i++)
        text += (char)(i * 7 + 3);
    uint32_t whole = crc_of(text);
    for (size_t split = 0; split <= text.size(); split += 13) {
        crc32_reset(0);
        EXPECT_EQ(split, crc32_update(text.data(), (uint32_t)split));
        crc32_update(text.data() + split, (uint32_t)(text.size() - split));
        EXPECT_EQ(whole, crc32_final()) << "split at " << split;
    }
}

TEST_F(Crc32, EmptyUpdateAndFinalLeaveTheRegister) {
    crc32_reset(0);
    EXPECT_EQ(0xFFFFFFFFu, crc32_register);
    EXPECT_EQ(0u, crc32_final());
    crc32_update("abc", 3);
    uint32_t before = crc32_register;
    EXPECT_EQ(0u, crc32_update("xyz", 0));
    EXPECT_EQ(before, crc32_register);
    EXPECT_EQ(0x352441C2u, crc32_final());
    EXPECT_EQ(0x352441C2u, crc32_final());
    EXPECT_EQ(before, crc32_register);
    crc32_reset(0x12345678u);
    EXPECT_EQ(~0x12345678u, crc32_register);
}
