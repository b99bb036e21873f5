// The recursive modulo 10 check digit carries a running value through the digits: each digit
// is added to the carry and the sum is mapped through a fixed permutation of 0..9. Because
// every step is a permutation of the carry for a given digit and of the digit for a given
// carry, two numbers that differ in one digit end with different carries, so any single
// substituted digit changes the check digit.
#include "reader/check.h"

#include <array>

namespace ocrb::reader {
namespace {

constexpr std::array<int, 10> kCarryTable = {0, 9, 4, 6, 8, 2, 7, 1, 3, 5};

// Where each field of a layout stands in the line without its spaces.
struct Field {
  CodingField Name;
  size_t Begin;
  size_t Length;  // the check digit included
};

struct Layout {
  CodingLayout Id;
  size_t Length;
  std::array<size_t, 3> Separators;  // '>' after the amount block, '+', '>' at the end
  std::array<Field, 3> Fields;
};

constexpr std::array<Layout, 2> kLayouts = {{
    {CodingLayout::kSwissSlip,
     52,
     {13, 41, 51},
     {{{kFieldAmount, 0, 13}, {kFieldReference, 14, 27}, {kFieldParticipant, 42, 9}}}},
    {CodingLayout::kSwissSlipNoAmount,
     42,
     {3, 31, 41},
     {{{kFieldAmount, 0, 3}, {kFieldReference, 4, 27}, {kFieldParticipant, 32, 9}}}},
}};

bool FieldChecks(std::string_view field) {
  const int expected = Mod10RecursiveCheckDigit(field.substr(0, field.size() - 1));
  return expected >= 0 && field.back() == '0' + expected;
}

}  // namespace

int Mod10RecursiveCheckDigit(std::string_view digits) {
  int carry = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    carry = kCarryTable[static_cast<size_t>((carry + (c - '0')) % 10)];
  }
  return (10 - carry) % 10;
}

CodingCheck CheckCodingLine(std::string_view text) {
  std::string packed;
  for (char c : text) {
    if (c != ' ') packed += c;
  }
  for (const Layout& layout : kLayouts) {
    if (packed.size() != layout.Length) continue;
    const bool shaped = packed[layout.Separators[0]] == '>' &&
                        packed[layout.Separators[1]] == '+' && packed[layout.Separators[2]] == '>';
    if (!shaped) continue;
    CodingCheck check;
    check.Layout = layout.Id;
    for (const Field& field : layout.Fields) {
      const std::string_view digits = std::string_view(packed).substr(field.Begin, field.Length);
      // A separator inside a field means the line is laid out otherwise.
      if (digits.find_first_of(">+") != std::string_view::npos) {
        check = CodingCheck();
        break;
      }
      if (!FieldChecks(digits)) check.BadFields |= field.Name;
    }
    if (check.Known()) return check;
  }
  return CodingCheck();
}

const char* LayoutName(CodingLayout layout) {
  switch (layout) {
    case CodingLayout::kSwissSlip:
      return "swiss-slip";
    case CodingLayout::kSwissSlipNoAmount:
      return "swiss-slip-no-amount";
    case CodingLayout::kNone:
      break;
  }
  return "";
}

const char* FieldName(CodingField field) {
  switch (field) {
    case kFieldAmount:
      return "amount";
    case kFieldReference:
      return "reference";
    case kFieldParticipant:
      return "participant";
  }
  return "";
}

std::string CheckSummary(const CodingCheck& check) {
  if (!check.Known()) return "";
  if (check.Valid()) return "ok";
  std::string out = "bad ";
  for (CodingField field : {kFieldAmount, kFieldReference, kFieldParticipant}) {
    if ((check.BadFields & field) == 0) continue;
    if (out.size() > 4) out += ',';
    out += FieldName(field);
  }
  return out;
}

}  // namespace ocrb::reader
