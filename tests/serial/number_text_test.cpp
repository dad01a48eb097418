// The one parser of whole numbers in text: each syntax, the whole text, the type's range.
#include "serial/number_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace vantor::serial {
namespace {

struct NumberCase {
  std::string_view text;
  NumberSyntax syntax;
  std::optional<std::uint64_t> expected;
};

TEST(ParseNumberTest, AcceptsEachSyntaxAndRefusesTheRest) {
  constexpr auto kDec = NumberSyntax::kDecimal;
  constexpr auto kHex = NumberSyntax::kDecimalOrHex;
  constexpr auto kC = NumberSyntax::kPrefixed;
  const NumberCase cases[] = {
      {"0", kDec, 0},
      {"42", kDec, 42},
      {"0042", kDec, 42},
      {"0x2A", kDec, std::nullopt},
      {"0042", kHex, 42},  // a counter file's zero padding is no octal
      {"0x2A", kHex, 42},
      {"0X2a", kHex, 42},
      {"2A", kHex, std::nullopt},
      {"0x", kHex, std::nullopt},
      {"0x0x1", kHex, std::nullopt},
      {"052", kC, 42},  // octal, as C writes it
      {"0x2A", kC, 42},
      {"0", kC, 0},
      {"09", kC, std::nullopt},
      {"2a", NumberSyntax::kHex, 42},
      {"0x2a", NumberSyntax::kHex, std::nullopt},
      {"18446744073709551615", kHex, UINT64_MAX},
      {"18446744073709551616", kHex, std::nullopt},
      {"0x10000000000000000", kHex, std::nullopt},
      {"", kDec, std::nullopt},
      {" 1", kDec, std::nullopt},
      {"1 ", kDec, std::nullopt},
      {"+1", kDec, std::nullopt},
      {"-1", kDec, std::nullopt},
      {"12abc", kDec, std::nullopt},
      {"1.5", kDec, std::nullopt},
  };
  for (const NumberCase& c : cases)
    EXPECT_EQ(ParseNumber<std::uint64_t>(c.text, c.syntax), c.expected) << "'" << c.text << "'";
}

TEST(ParseNumberTest, TheTypeBoundsTheValueAndTheSign) {
  EXPECT_EQ(ParseNumber<std::uint32_t>("0xFFFFFFFF", NumberSyntax::kPrefixed), 0xFFFFFFFFu);
  EXPECT_FALSE(ParseNumber<std::uint32_t>("0x100000000", NumberSyntax::kPrefixed));
  EXPECT_FALSE(ParseNumber<std::uint32_t>("4294967296"));
  EXPECT_EQ(ParseNumber<std::int32_t>("-9978"), -9978);
  EXPECT_EQ(ParseNumber<std::int64_t>("-1781065093000"), -1781065093000);
  EXPECT_FALSE(ParseNumber<std::int32_t>("2147483648"));
  EXPECT_FALSE(ParseNumber<std::int32_t>("--1"));
  EXPECT_FALSE(ParseNumber<std::uint16_t>("65536"));
}

}  // namespace
}  // namespace vantor::serial
