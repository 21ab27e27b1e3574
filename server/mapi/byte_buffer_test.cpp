// Byte buffer: hexadecimal text form, the lenient reader keys are read with, and
// the strict reader for keys from outside.
#include "server/mapi/byte_buffer.h"

#include <gtest/gtest.h>

namespace {

CByteBuffer Bytes(std::initializer_list<uint8_t> bytes) {
    return CByteBuffer(std::vector<uint8_t>(bytes));
}

TEST(ByteBufferText, UpperCaseTwoDigitsPerByte) {
    EXPECT_EQ(Bytes({0x00, 0x01, 0xA1, 0xFF, 0x7E, 0x10}).ToText(), "0001A1FF7E10");
    EXPECT_EQ(CByteBuffer().ToText(), "");
}

TEST(ByteBufferText, EveryByteRoundTrips) {
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    CByteBuffer buffer(all);
    std::string text = buffer.ToText();
    ASSERT_EQ(text.size(), 512u);
    EXPECT_EQ(text.substr(0, 8), "00010203");
    EXPECT_EQ(text.substr(504), "FCFDFEFF");
    EXPECT_EQ(CByteBuffer::FromText(text), buffer);
    EXPECT_EQ(CByteBuffer::ParseHex(text).value(), buffer);
}

TEST(ByteBufferLenient, DigitsAndUpperCaseSpellTheirBytes) {
    EXPECT_EQ(CByteBuffer::FromText("00A1FF7E").Bytes(),
              (std::vector<uint8_t>{0x00, 0xA1, 0xFF, 0x7E}));
    EXPECT_TRUE(CByteBuffer::FromText("").Empty());
}

TEST(ByteBufferLenient, LastUnpairedCharacterIsIgnored) {
    EXPECT_EQ(CByteBuffer::FromText("A1F").Bytes(), (std::vector<uint8_t>{0xA1}));
    EXPECT_TRUE(CByteBuffer::FromText("7").Empty());
}

TEST(ByteBufferLenient, OtherCharactersGiveOtherBytesWithoutError) {
    // c <= 0x40 counts c - 48, above it c - 55; the byte is taken modulo 256.
    // 'a' (0x61) counts 42: "a0" = 16 * 42 + 0 = 672 -> 0xA0.
    EXPECT_EQ(CByteBuffer::FromText("a0").Bytes(), (std::vector<uint8_t>{0xA0}));
    // "0a" = 0 * 16 + 42 = 0x2A, not 0x0A.
    EXPECT_EQ(CByteBuffer::FromText("0a").Bytes(), (std::vector<uint8_t>{0x2A}));
    // ' ' (0x20) counts -16; "1 " = 16 - 16 = 0.
    EXPECT_EQ(CByteBuffer::FromText("1 ").Bytes(), (std::vector<uint8_t>{0x00}));
    // '@' (0x40) counts 16 (first rule), 'G' (0x47) counts 16 (second rule):
    // "@G" = 256 + 16 -> 0x10.
    EXPECT_EQ(CByteBuffer::FromText("@G").Bytes(), (std::vector<uint8_t>{0x10}));
    // A high byte (0xFF) counts 200; "\xFF\xFF" = 3400 -> 0x48.
    EXPECT_EQ(CByteBuffer::FromText("\xFF\xFF").Bytes(), (std::vector<uint8_t>{0x48}));
    // "-4" (a default-folder code) reads as one byte: (-3) * 16 + 4 = -44 -> 0xD4.
    EXPECT_EQ(CByteBuffer::FromText("-4").Bytes(), (std::vector<uint8_t>{0xD4}));
}

TEST(ByteBufferLenient, ReplacesEarlierContent) {
    CByteBuffer buffer = Bytes({1, 2, 3});
    buffer.SetFromText("FF");
    EXPECT_EQ(buffer.Bytes(), (std::vector<uint8_t>{0xFF}));
}

TEST(ByteBufferStrict, AcceptsBothCases) {
    EXPECT_EQ(CByteBuffer::ParseHex("0aFf").value().Bytes(), (std::vector<uint8_t>{0x0A, 0xFF}));
    EXPECT_TRUE(CByteBuffer::ParseHex("").value().Empty());
}

TEST(ByteBufferStrict, RefusesOddLengthAndForeignCharacters) {
    EXPECT_FALSE(CByteBuffer::ParseHex("A1F").has_value());
    EXPECT_FALSE(CByteBuffer::ParseHex("-4").has_value());
    EXPECT_FALSE(CByteBuffer::ParseHex("0G").has_value());
    EXPECT_FALSE(CByteBuffer::ParseHex("A1 2").has_value());
    EXPECT_FALSE(CByteBuffer::ParseHex(std::string("A\0", 2)).has_value());
    EXPECT_FALSE(CByteBuffer::ParseHex("../..").has_value());
}

TEST(ByteBufferViews, EntryIdAndBinaryPointAtTheBytes) {
    CByteBuffer buffer = Bytes({0x00, 0x00, 0x00, 0x00, 0x42});
    ASSERT_NE(buffer.EntryId(), nullptr);
    EXPECT_EQ(buffer.EntryIdSize(), 5u);
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(buffer.EntryId())[4], 0x42);
    SBinary bin = buffer.AsBinary();
    EXPECT_EQ(bin.cb, 5u);
    EXPECT_EQ(CByteBuffer(bin), buffer);

    CByteBuffer empty;
    EXPECT_EQ(empty.EntryId(), nullptr);
    EXPECT_EQ(empty.AsBinary().cb, 0u);
    EXPECT_EQ(empty.AsBinary().lpb, nullptr);
    SBinary none{0, nullptr};
    EXPECT_TRUE(CByteBuffer(none).Empty());
}

}  // namespace
