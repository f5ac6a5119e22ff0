#include "engine/value.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "engine/byte_reader.h"
#include "engine/error.h"
#include "engine/text_codec.h"

namespace engine {
namespace {

constexpr char kHexLower[] = "0123456789abcdef";
constexpr char kHexUpper[] = "0123456789ABCDEF";

void requireSize(const Column& c, std::span<const std::uint8_t> bytes, std::size_t n) {
  if (bytes.size() != n)
    throw Error("column " + c.name + ": " + std::to_string(bytes.size()) +
                " bytes for a value of " + std::to_string(n));
}

std::int64_t i64(ByteReader& r) {
  return static_cast<std::int64_t>(std::uint64_t{r.u32(0)} | (std::uint64_t{r.u32(4)} << 32));
}

void appendHexByte(std::string& out, std::uint8_t b, const char* digits) {
  out.push_back(digits[b >> 4]);
  out.push_back(digits[b & 0x0F]);
}

// Days from 1970-01-01 to 1899-12-30.
constexpr long kEpochOffset = -25569;
constexpr double kFirstDay = -657434;   // 0100-01-01
constexpr double kLastDay = 2958466;    // 10000-01-01

}  // namespace

Value decodeValue(const Column& column, const RawValue& raw, const PageSource& pages) {
  Value v;
  switch (raw.kind) {
    case RawValue::Kind::Null:
      if (column.type == kTypeBoolean) {
        v.kind = Value::Kind::Boolean;  // a boolean's null bit is its value
        v.boolean = false;
      }
      return v;
    case RawValue::Kind::Boolean:
      v.kind = Value::Kind::Boolean;
      v.boolean = raw.boolean;
      return v;
    case RawValue::Kind::Bytes:
      break;
  }
  return decodeBytes(column, raw.bytes, pages);
}

Value decodeBytes(const Column& column, std::span<const std::uint8_t> bytes,
                  const PageSource& pages) {
  Value v;
  ByteReader r(bytes, "column " + column.name);
  switch (column.type) {
    case kTypeBoolean:
      v.kind = Value::Kind::Boolean;
      v.boolean = !bytes.empty() && bytes[0] != 0;
      break;
    case kTypeByte:
      requireSize(column, bytes, 1);
      v.kind = Value::Kind::Integer;
      v.integer = r.u8(0);
      break;
    case kTypeInteger:
      requireSize(column, bytes, 2);
      v.kind = Value::Kind::Integer;
      v.integer = r.i16(0);
      break;
    case kTypeLong:
      requireSize(column, bytes, 4);
      v.kind = Value::Kind::Integer;
      v.integer = r.i32(0);
      break;
    case kTypeCurrency:
      requireSize(column, bytes, 8);
      v.kind = Value::Kind::Currency;
      v.integer = i64(r);
      break;
    case kTypeFloat:
      requireSize(column, bytes, 4);
      v.kind = Value::Kind::Float;
      v.real = std::bit_cast<float>(r.u32(0));
      break;
    case kTypeDouble:
      requireSize(column, bytes, 8);
      v.kind = Value::Kind::Double;
      v.real = r.f64(0);
      break;
    case kTypeDateTime:
      requireSize(column, bytes, 8);
      v.kind = Value::Kind::DateTime;
      v.real = r.f64(0);
      break;
    case kTypeGuid:
      requireSize(column, bytes, 16);
      v.kind = Value::Kind::Guid;
      v.bytes.assign(bytes.begin(), bytes.end());
      break;
    case kTypeNumeric:
      requireSize(column, bytes, 17);
      v.kind = Value::Kind::Numeric;
      v.text = formatNumeric(bytes, column.scale);
      break;
    case kTypeText:
      v.kind = Value::Kind::Text;
      v.text = decodeTextValue(bytes);
      break;
    case kTypeMemo:
      v.kind = Value::Kind::Text;
      if (!bytes.empty()) v.text = decodeTextValue(readLongValue(bytes, pages));
      break;
    case kTypeOle:
      v.kind = Value::Kind::Binary;
      if (!bytes.empty()) v.bytes = readLongValue(bytes, pages);
      break;
    default:  // binary and types we do not know: the bytes as stored
      v.kind = Value::Kind::Binary;
      v.bytes.assign(bytes.begin(), bytes.end());
      break;
  }
  return v;
}

std::string formatCurrency(std::int64_t tenThousandths) {
  const bool negative = tenThousandths < 0;
  // Magnitude without overflow for the most negative value.
  const std::uint64_t m = negative ? ~static_cast<std::uint64_t>(tenThousandths) + 1
                                   : static_cast<std::uint64_t>(tenThousandths);
  char text[32];
  std::snprintf(text, sizeof text, "%s%llu.%04u", negative ? "-" : "",
                static_cast<unsigned long long>(m / 10000), static_cast<unsigned>(m % 10000));
  return text;
}

std::string formatDateTime(double days) {
  if (!std::isfinite(days) || days <= kFirstDay - 1 || days >= kLastDay) return {};
  const double whole = std::trunc(days);
  const double fraction = std::fabs(days - whole);
  long dayNumber = static_cast<long>(whole);
  long seconds = std::lround(fraction * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++dayNumber;
    if (static_cast<double>(dayNumber) >= kLastDay) return {};
  }
  using namespace std::chrono;
  const year_month_day ymd{sys_days{} + std::chrono::days{dayNumber + kEpochOffset}};
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02u-%02u %02ld:%02ld:%02ld", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                seconds / 3600, seconds / 60 % 60, seconds % 60);
  return out;
}

std::string formatGuid(std::span<const std::uint8_t> b) {
  if (b.size() != 16) throw Error("a GUID has 16 bytes, not " + std::to_string(b.size()));
  static constexpr std::array<int, 16> order = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string out = "{";
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    appendHexByte(out, b[static_cast<std::size_t>(order[i])], kHexUpper);
  }
  out.push_back('}');
  return out;
}

std::string formatNumeric(std::span<const std::uint8_t> bytes, std::uint8_t scale) {
  if (bytes.size() != 17) throw Error("a numeric value has 17 bytes, not " + std::to_string(bytes.size()));
  ByteReader r(bytes, "numeric value");
  std::array<std::uint32_t, 4> words{};  // most significant first
  for (std::size_t i = 0; i < 4; ++i) words[i] = r.u32(1 + 4 * i);
  // Repeated division by ten of the 128-bit magnitude; digits come out
  // least significant first.
  std::string reversed;
  auto isZero = [&words] { return words[0] == 0 && words[1] == 0 && words[2] == 0 && words[3] == 0; };
  while (!isZero()) {
    std::uint64_t rem = 0;
    for (auto& w : words) {
      const std::uint64_t cur = (rem << 32) | w;
      w = static_cast<std::uint32_t>(cur / 10);
      rem = cur % 10;
    }
    reversed.push_back(static_cast<char>('0' + rem));
  }
  while (reversed.size() <= scale) reversed.push_back('0');  // at least one digit before the point
  const bool zero = reversed.find_first_not_of('0') == std::string::npos;
  std::string out;
  out.reserve(reversed.size() + 2);
  if (bytes[0] != 0 && !zero) out.push_back('-');
  for (std::size_t i = reversed.size(); i-- > 0;) {
    out.push_back(reversed[i]);
    if (i == scale && scale > 0) out.push_back('.');
  }
  return out;
}

std::string formatHex(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (auto b : bytes) appendHexByte(out, b, kHexLower);
  return out;
}

std::string formatFloat(float f) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, f);
  return std::string(buf, res.ptr);
}

std::string formatDouble(double d) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, res.ptr);
}

std::string jsonString(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out.push_back('"');
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          appendHexByte(out, c, kHexLower);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string toJson(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Null: return "null";
    case Value::Kind::Boolean: return v.boolean ? "true" : "false";
    case Value::Kind::Integer: return std::to_string(v.integer);
    case Value::Kind::Currency: return jsonString(formatCurrency(v.integer));
    case Value::Kind::Float:
      return std::isfinite(v.real) ? formatFloat(static_cast<float>(v.real)) : "null";
    case Value::Kind::Double: return std::isfinite(v.real) ? formatDouble(v.real) : "null";
    case Value::Kind::DateTime: {
      const std::string s = formatDateTime(v.real);
      if (!s.empty()) return jsonString(s);
      return std::isfinite(v.real) ? formatDouble(v.real) : "null";
    }
    case Value::Kind::Binary: return jsonString(formatHex(v.bytes));
    case Value::Kind::Text: return jsonString(v.text);
    case Value::Kind::Guid: return jsonString(formatGuid(v.bytes));
    case Value::Kind::Numeric: return jsonString(v.text);
  }
  return "null";
}

}  // namespace engine
