#include "core/FieldFormat.h"

#include <sstream>

namespace {

constexpr uint64_t kSecondsPerDay = 86400;
constexpr uint64_t kUnitsPerSecond = 10000000;  // 100 ns units
constexpr int64_t kDays1601To1970 = 134774;
constexpr int64_t kDays1904To1970 = 24107;

std::string TwoDigits(uint64_t value) {
  return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

}  // namespace

std::string FieldFormat::Hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(static_cast<size_t>(digits > 0 ? digits : 0), '0');
  for (int i = digits - 1; i >= 0 && value != 0; --i) {
    text[static_cast<size_t>(i)] = kDigits[value & 15];
    value >>= 4;
  }
  return text;
}

std::string FieldFormat::GuidText(const uint8_t (&bytes)[16]) {
  auto little = [&bytes](int first, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[first + i];
    return value;
  };
  std::string text = "{" + Hex(little(0, 4), 8) + "-" + Hex(little(4, 2), 4) + "-" +
                     Hex(little(6, 2), 4) + "-";
  for (int i = 8; i < 16; ++i) {
    if (i == 10) text += "-";
    text += Hex(bytes[i], 2);
  }
  return text + "}";
}

FieldFormat::CivilDate FieldFormat::CivilFromDays(int64_t daysSince1970) {
  // Days are counted in 400-year eras that start on 0000-03-01, so that the
  // leap day is the last day of each counted year.
  const int64_t z = daysSince1970 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  CivilDate date;
  date.day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  date.month = static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

std::string FieldFormat::ClockText(uint64_t secondsOfDay) {
  return TwoDigits(secondsOfDay / 3600 % 24) + ":" + TwoDigits(secondsOfDay / 60 % 60) + ":" +
         TwoDigits(secondsOfDay % 60);
}

std::string FieldFormat::DateTimeText(int64_t daysSince1970, uint64_t secondsOfDay) {
  CivilDate date = CivilFromDays(daysSince1970);
  // A date past year 9999 is a damaged field, not a date.
  if (date.year > 9999) return std::string();
  return std::to_string(date.year) + "-" + TwoDigits(date.month) + "-" + TwoDigits(date.day) +
         " " + ClockText(secondsOfDay);
}

std::string FieldFormat::FileTimeText(uint64_t fileTime) {
  const uint64_t seconds = fileTime / kUnitsPerSecond;
  const int64_t days = static_cast<int64_t>(seconds / kSecondsPerDay) - kDays1601To1970;
  const uint64_t secondsOfDay = seconds % kSecondsPerDay;
  if (CivilFromDays(days).year <= 1601) return ClockText(secondsOfDay);
  return DateTimeText(days, secondsOfDay);
}

std::string FieldFormat::DurationText(uint64_t units) {
  // Milliseconds always take three digits: 12.04 s reads 12.040, never 12.40.
  const uint64_t milliseconds = units / (kUnitsPerSecond / 1000) % 1000;
  std::string fraction = std::to_string(milliseconds);
  fraction.insert(0, 3 - fraction.size(), '0');
  return ClockText(units / kUnitsPerSecond % kSecondsPerDay) + "." + fraction;
}

std::string FieldFormat::MacDateText(uint64_t seconds) {
  const int64_t days = static_cast<int64_t>(seconds / kSecondsPerDay) - kDays1904To1970;
  return DateTimeText(days, seconds % kSecondsPerDay);
}

std::string FieldFormat::DecimalText(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

uint32_t FieldFormat::Extended80Value(const uint8_t (&bytes)[10]) {
  // Byte 1 is the low byte of the biased exponent (0x40 0x1e is 2^31 and
  // needs no shift); bytes 2 to 5 are the top of the mantissa, whose first bit
  // is the explicit integer bit. Sample rates never need the rest.
  const uint32_t mantissa = static_cast<uint32_t>(bytes[2]) << 24 |
                            static_cast<uint32_t>(bytes[3]) << 16 |
                            static_cast<uint32_t>(bytes[4]) << 8 | bytes[5];
  const unsigned exponent = bytes[1];
  if (exponent <= 30) {
    const unsigned shift = 30 - exponent;
    if (shift == 0) return mantissa;
    const uint32_t lastOut = (mantissa >> (shift - 1)) & 1;
    return (mantissa >> shift) + lastOut;
  }
  // Above 30 the value only grows: shift left while it still fits 32 bits.
  const unsigned shift = exponent - 30;
  if (mantissa == 0) return 0;
  if (shift >= 32) return 0xFFFFFFFFu;
  const uint64_t value = static_cast<uint64_t>(mantissa) << shift;
  return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}
