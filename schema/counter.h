// Raising a counter label: its caption's leading decimal number (0 when the
// caption does not begin with one) plus one, written back as the shortest
// plain decimal text of the sum ("0" -> "1", "9" -> "10", "12abc" -> "13").
#pragma once

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>

namespace schema {

inline std::string raiseCounter(std::string_view caption) {
  // The number must start at the first character: a sign, then a digit or
  // a point followed by a digit. This also keeps "inf" and "nan" out.
  std::string_view text = caption;
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const std::size_t lead = (!text.empty() && text.front() == '-') ? 1 : 0;
  auto isDigit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  const bool startsWithNumber =
      isDigit(lead) || (lead < text.size() && text[lead] == '.' && isDigit(lead + 1));

  double value = 0.0;
  if (startsWithNumber) {
    double parsed = 0.0;
    const auto [ptr, ec] =
        std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
    if (ec == std::errc{} && ptr != text.data()) value = parsed;
  }
  value += 1.0;

  char buffer[400];  // room for the longest fixed-notation double
  const auto [end, written] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (written != std::errc{}) return "0";
  return std::string(buffer, end);
}

}  // namespace schema
