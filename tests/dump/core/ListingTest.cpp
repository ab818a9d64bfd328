#include <gtest/gtest.h>

#include <cstdlib>

#include "ProtocolDriver.h"

namespace tessaly::dump::test {
namespace {

std::string listingOf(std::initializer_list<std::uint8_t> bytes) {
    return dump::hexListing(std::vector<std::uint8_t>(bytes));
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
        lines.push_back(text.substr(begin, end - begin));
    }
    lines.push_back(text.substr(begin));
    return lines;
}

TEST(HexListing, ItemsAreTwoUpperCaseDigitsAndASpace) {
    EXPECT_EQ(listingOf({0x0A}), "\r\n0A ");
    EXPECT_EQ(listingOf({0x05}), "\r\n05 ");
    EXPECT_EQ(listingOf({0xF0}), "\r\nF0 ");
    EXPECT_EQ(listingOf({0x00, 0xFF, 0x9c}), "\r\n00 FF 9C ");
    EXPECT_EQ(listingOf({}), "");
}

TEST(HexListing, LineBreakComesBeforeEverySixteenthByte) {
    std::string firstLine;
    for (int i = 0; i < 16; ++i) firstLine += "11 ";
    EXPECT_EQ(dump::hexListing(Bytes(17, 0x11)), "\r\n" + firstLine + "\r\n11 ");
}

TEST(HexListing, FullDumpIsSixtyFourLinesOfSixteenItemsInOrder) {
    const Bytes data = countingData();
    const auto lines = linesOf(dump::hexListing(data));

    ASSERT_EQ(lines.size(), 65u);
    EXPECT_EQ(lines.front(), "") << "the listing starts with a line break";
    for (std::size_t line = 1; line < lines.size(); ++line) {
        ASSERT_EQ(lines[line].size(), 48u) << line;
        for (std::size_t item = 0; item < 16; ++item) {
            const std::string text = lines[line].substr(item * 3, 3);
            EXPECT_EQ(text[2], ' ');
            EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
            EXPECT_EQ(std::strtoul(text.c_str(), nullptr, 16), data[(line - 1) * 16 + item]);
        }
    }
}

TEST(Checksum, IsTheSumModulo256) {
    EXPECT_EQ(checksumOf(Bytes(kDataSize, 0xFF)), 0x00);
    EXPECT_EQ(checksumOf(Bytes{0xFF, 0x02}), 0x01);
    EXPECT_EQ(checksumOf(Bytes{0x80, 0x7F}), 0xFF);
    EXPECT_EQ(checksumOf(Bytes{}), 0x00);
}

}  // namespace
}  // namespace tessaly::dump::test
