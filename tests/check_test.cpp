// Check digits of coding lines, checked against a second derivation of the recursive modulo 10
// (its table written out as ten rows), against published example numbers, and by enumerating
// every single-digit substitution in every field.
#include "reader/check.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace ocrb::reader {
namespace {

// The same check digit from the square form of the table: the row is the carry, the column
// the digit, and each row is the first one turned left by the row's number.
int SquareTableCheckDigit(const std::string& digits) {
  static const std::array<const char*, 10> kRows = {
      "0946827135", "9468271350", "4682713509", "6827135094", "8271350946",
      "2713509468", "7135094682", "1350946827", "3509468271", "5094682713"};
  int carry = 0;
  for (char c : digits) carry = kRows[static_cast<size_t>(carry)][c - '0'] - '0';
  return (10 - carry) % 10;
}

std::string WithCheck(const std::string& digits) {
  return digits + static_cast<char>('0' + SquareTableCheckDigit(digits));
}

// A coding line made by the test's own check digits: with amount when Amount is nonempty.
std::string SlipLine(const std::string& type, const std::string& amount,
                     const std::string& reference, const std::string& participant) {
  return WithCheck(type + amount) + ">" + WithCheck(reference) + "+ " + WithCheck(participant) +
         ">";
}

TEST(CheckDigit, AgreesWithTheSquareTableOnEveryShortNumberAndLongOnes) {
  EXPECT_EQ(Mod10RecursiveCheckDigit(""), SquareTableCheckDigit(""));
  // Every number of one to four digits, leading zeros included.
  for (int length = 1, count = 10; length <= 4; ++length, count *= 10) {
    for (int n = 0; n < count; ++n) {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%0*d", length, n);
      ASSERT_EQ(Mod10RecursiveCheckDigit(digits), SquareTableCheckDigit(digits)) << digits;
    }
  }
  std::mt19937 random(7);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string digits(5 + random() % 40, '0');
    for (char& c : digits) c = static_cast<char>('0' + random() % 10);
    ASSERT_EQ(Mod10RecursiveCheckDigit(digits), SquareTableCheckDigit(digits)) << digits;
  }
}

TEST(CheckDigit, PublishedExamplesHold) {
  // Example numbers from the slip's published documentation: the last digit of each is its
  // check digit.
  const std::vector<std::string> numbers = {
      "010000394975"
      "3",  // type 01, amount 3949.75
      "12000000000023447894321689"
      "9",  // reference
      "21000000000313947143000901"
      "7",  // reference
      "01000162"
      "8",  // participant 01-162-8
      "04"
      "2",  // type 04, no amount: the familiar "042>"
  };
  for (const std::string& n : numbers) {
    EXPECT_EQ(Mod10RecursiveCheckDigit(n.substr(0, n.size() - 1)), n.back() - '0') << n;
  }
}

TEST(CheckDigit, RefusesAnythingButDigits) {
  for (const char* text : {"12a4", "~", "0 1", "-1", "12>"}) {
    EXPECT_EQ(Mod10RecursiveCheckDigit(text), -1) << text;
  }
}

TEST(CodingCheck, FindsEachLayoutAndItsFailingFields) {
  const std::string good = "0100003949753>120000000000234478943216899+ 010001628>";
  const std::string plain = "042>210000000003139471430009017+ 010001628>";
  struct Case {
    std::string Text;
    CodingLayout Layout;
    unsigned Bad;
    std::string Summary;
  };
  const std::vector<Case> cases = {
      {good, CodingLayout::kSwissSlip, 0, "ok"},
      {plain, CodingLayout::kSwissSlipNoAmount, 0, "ok"},
      // Spaces do not matter: a gap the engine missed, or filled twice.
      {"0100003949753>120000000000234478943216899+010001628>", CodingLayout::kSwissSlip, 0, "ok"},
      {" 042> 2100000000031394714 30009017+   010001628> ", CodingLayout::kSwissSlipNoAmount, 0,
       "ok"},
      {"0100003949754>120000000000234478943216899+ 010001628>", CodingLayout::kSwissSlip,
       kFieldAmount, "bad amount"},
      {"043>210000000003139471430009017+ 010001628>", CodingLayout::kSwissSlipNoAmount,
       kFieldAmount, "bad amount"},
      // An unnamed glyph or a misread symbol inside a field fails that field only.
      {"0100003949753>1200000000002344789432~6899+ 010001628>", CodingLayout::kSwissSlip,
       kFieldReference, "bad reference"},
      {"0100003949753>120000000000234478943216899+ 0100#1628>", CodingLayout::kSwissSlip,
       kFieldParticipant, "bad participant"},
      {"0100003949754>120000000000234478943216898+ 010001627>", CodingLayout::kSwissSlip,
       kFieldAmount | kFieldReference | kFieldParticipant, "bad amount,reference,participant"},
      // The bundled example's reference has 21 digits: no known layout.
      {"0100000123456>120000019876543210005+ 010304565>", CodingLayout::kNone, 0, ""},
      // Not the layout: a character short or long, a separator missing, moved or doubled.
      {good.substr(1), CodingLayout::kNone, 0, ""},
      {"0" + good, CodingLayout::kNone, 0, ""},
      {"0100003949753-120000000000234478943216899+ 010001628>", CodingLayout::kNone, 0, ""},
      {"0100003949753>120000000000234478943216899+ 010001628", CodingLayout::kNone, 0, ""},
      {"0100003949753>12000000000023447894321689+9 010001628>", CodingLayout::kNone, 0, ""},
      {"0100003949753>12000000000>234478943216899+ 010001628>", CodingLayout::kNone, 0, ""},
      {"042>21000000000313947143+009017+ 010001628>", CodingLayout::kNone, 0, ""},
      {"", CodingLayout::kNone, 0, ""},
      {"2020-06-30 >>> 774411+", CodingLayout::kNone, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    const CodingCheck check = CheckCodingLine(c.Text);
    EXPECT_EQ(check.Layout, c.Layout);
    EXPECT_EQ(check.BadFields, c.Bad);
    EXPECT_EQ(check.Known(), c.Layout != CodingLayout::kNone);
    EXPECT_EQ(check.Valid(), check.Known() && c.Bad == 0);
    EXPECT_EQ(CheckSummary(check), c.Summary);
  }
  EXPECT_STREQ(LayoutName(CheckCodingLine(good).Layout), "swiss-slip");
  EXPECT_STREQ(LayoutName(CheckCodingLine(plain).Layout), "swiss-slip-no-amount");
  EXPECT_STREQ(LayoutName(CodingLayout::kNone), "");
}

// Every digit of every field, check digits included, replaced by each of the nine others and
// by '~': the line keeps its layout and exactly that field fails.
TEST(CodingCheck, EverySingleSubstitutionFailsItsOwnField) {
  std::mt19937 random(11);
  auto digits = [&](size_t n) {
    std::string s(n, '0');
    for (char& c : s) c = static_cast<char>('0' + random() % 10);
    return s;
  };
  std::vector<std::string> lines = {
      "0100003949753>120000000000234478943216899+ 010001628>",
      "042>210000000003139471430009017+ 010001628>",
  };
  for (int i = 0; i < 4; ++i) {
    lines.push_back(SlipLine("01", digits(10), digits(26), "01" + digits(6)));
    lines.push_back(SlipLine("04", "", digits(26), "01" + digits(6)));
  }
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    const CodingCheck original = CheckCodingLine(line);
    ASSERT_TRUE(original.Valid());
    // The field of each position: before the first '>', then up to '+', then the rest.
    const size_t first = line.find('>'), plus = line.find('+');
    int substitutions = 0;
    for (size_t k = 0; k < line.size(); ++k) {
      if (line[k] < '0' || line[k] > '9') continue;
      const unsigned field =
          k < first ? kFieldAmount : (k < plus ? kFieldReference : kFieldParticipant);
      for (char other : std::string("0123456789~")) {
        if (other == line[k]) continue;
        std::string changed = line;
        changed[k] = other;
        const CodingCheck check = CheckCodingLine(changed);
        ASSERT_EQ(check.Layout, original.Layout) << changed;
        ASSERT_EQ(check.BadFields, field) << changed;
        ++substitutions;
      }
    }
    const size_t digit_count =
        original.Layout == CodingLayout::kSwissSlip ? 13 + 27 + 9 : 3 + 27 + 9;
    EXPECT_EQ(substitutions, static_cast<int>(digit_count * 10));
  }
}

}  // namespace
}  // namespace ocrb::reader
