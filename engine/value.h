// Column values decoded from a row, and their JSON form for the tools.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/column.h"
#include "engine/long_value.h"
#include "engine/row.h"

namespace engine {

struct Value {
  enum class Kind : std::uint8_t {
    Null,
    Boolean,   // boolean
    Integer,   // integer: byte (0..255), integer, long
    Currency,  // integer: ten-thousandths
    Float,     // real (a float widened exactly)
    Double,    // real
    DateTime,  // real: days since 1899-12-30, Jet's signed form
    Binary,    // bytes: binary and OLE
    Text,      // text: text and memo, UTF-8
    Guid,      // bytes: 16 as stored
    Numeric,   // text: the decimal number, e.g. "-12.50"
  };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;
  std::vector<std::uint8_t> bytes;
};

// Decodes one column's value. Memo and OLE values are fetched through
// `pages` when they do not lie inline. Error when the bytes do not fit the
// column type (a fixed value of the wrong length, a broken long value).
Value decodeValue(const Column& column, const RawValue& raw, const PageSource& pages);

// Decodes a value that is present (not null, not a boolean) from its bytes.
Value decodeBytes(const Column& column, std::span<const std::uint8_t> bytes,
                  const PageSource& pages);

// Formatting, as the tools print values.
// Currency: the amount with exactly 4 decimals, "-12.3400".
std::string formatCurrency(std::int64_t tenThousandths);
// Date/time: "YYYY-MM-DD HH:MM:SS", rounded to the second. The whole part of
// the stored number counts days from 1899-12-30 (negative before it) and the
// fraction, whatever the sign, is the time of day. Empty for a number outside
// the years 100 to 9999 (or not finite).
std::string formatDateTime(double days);
// GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", the first three groups
// stored little-endian.
std::string formatGuid(std::span<const std::uint8_t> bytes);
// Numeric: sign byte (non-zero: negative), then a 128-bit magnitude as four
// 32-bit little-endian words, most significant first; `scale` decimals.
std::string formatNumeric(std::span<const std::uint8_t> bytes, std::uint8_t scale);
// Lower-case hex.
std::string formatHex(std::span<const std::uint8_t> bytes);
// Shortest text that reads back as the same number.
std::string formatFloat(float f);
std::string formatDouble(double d);
// A JSON string literal, quotes included: \" \\ \b \f \n \r \t and \u00XX
// for the other control characters; everything else as is.
std::string jsonString(std::string_view utf8);
// The JSON form of a value: null, true/false, numbers (a non-finite real as
// null), currency, date/time, numeric and text as strings, binary, OLE as hex
// strings, GUID in braces. A date/time outside the printable range is
// printed as its number.
std::string toJson(const Value& value);

}  // namespace engine
