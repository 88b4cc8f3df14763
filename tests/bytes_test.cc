#include "util/bytes.h"

#include <gtest/gtest.h>

#include <array>

TEST(Bytes, BothOrdersAtAnyAlignment) {
    std::array<uint8_t, 16> buffer{};
    for (size_t offset = 0; offset < 8; ++offset) {
        util::store_be32(buffer.data() + offset, 0x01020304);
        EXPECT_EQ(buffer[offset], 0x01);
        EXPECT_EQ(buffer[offset + 3], 0x04);
        EXPECT_EQ(util::load_be32(buffer.data() + offset), 0x01020304u);

        util::store_le64(buffer.data() + offset, 0x0102030405060708ull);
        EXPECT_EQ(buffer[offset], 0x08);
        EXPECT_EQ(buffer[offset + 7], 0x01);
        EXPECT_EQ(util::load_le64(buffer.data() + offset), 0x0102030405060708ull);
        EXPECT_EQ(util::load_be64(buffer.data() + offset), 0x0807060504030201ull);
    }
    util::store_be16(buffer.data(), 0xABCD);
    EXPECT_EQ(util::load_le16(buffer.data()), 0xCDAB);
    util::store_le32(buffer.data() + 1, 0xFFFFFFFE);
    EXPECT_EQ(util::load_be32(buffer.data() + 1), 0xFEFFFFFFu);
    util::store_be64(buffer.data() + 3, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(util::load_le64(buffer.data() + 3), 0xFFFFFFFFFFFFFFFFull);
}
