// Check digits of coding lines whose layout carries them.
//
// The one family known here is the coding line of the Swiss payment slip with reference
// number. Spaces left out, it reads
//
//   with amount     TT AAAAAAAAAA C >  RRRRRRRRRRRRRRRRRRRRRRRRRRR +  PPPPPPPPP >
//   without amount  TT C >             RRRRRRRRRRRRRRRRRRRRRRRRRRR +  PPPPPPPPP >
//
// T the two-digit document type, A the amount in hundredths, C the check digit of the block
// before it; R the 27-digit reference number, P the 9-digit participant number, each ending
// in its own check digit. All three check digits are the recursive modulo 10 one. The
// document type is not looked up in a list: its digits are covered by the first check digit.
#ifndef OCRB_READER_CHECK_H_
#define OCRB_READER_CHECK_H_

#include <string>
#include <string_view>

namespace ocrb::reader {

enum class CodingLayout { kNone, kSwissSlip, kSwissSlipNoAmount };

// The fields of a coding line, as bits of CodingCheck::BadFields.
enum CodingField : unsigned {
  kFieldAmount = 1u,  // the block before the first '>': type, amount if any, check digit
  kFieldReference = 2u,
  kFieldParticipant = 4u,
};

// What the check digits of one line say: Layout kNone when the line has no known layout,
// else the fields whose check digit fails (a field holding a character other than a digit,
// such as '~', fails too).
struct CodingCheck {
  CodingLayout Layout = CodingLayout::kNone;
  unsigned BadFields = 0;

  bool Known() const { return Layout != CodingLayout::kNone; }
  bool Valid() const { return Known() && BadFields == 0; }
};

// The recursive modulo 10 check digit of Digits (each '0'..'9'), or -1 when Digits holds
// anything else.
int Mod10RecursiveCheckDigit(std::string_view digits);

// Finds the layout of Text (spaces are ignored, so that a gap the engine filled or missed does
// not matter) and checks its fields. The structural characters '>' and '+' must stand where
// the layout has them; every other position takes any character but those two.
CodingCheck CheckCodingLine(std::string_view text);

// "swiss-slip", "swiss-slip-no-amount", or "" for kNone.
const char* LayoutName(CodingLayout layout);

// The field's name: "amount", "reference" or "participant".
const char* FieldName(CodingField field);

// One word for people and tables: "" when the layout is unknown, "ok", or "bad " and the
// failing fields joined by commas ("bad reference", "bad amount,participant").
std::string CheckSummary(const CodingCheck& check);

}  // namespace ocrb::reader

#endif  // OCRB_READER_CHECK_H_
