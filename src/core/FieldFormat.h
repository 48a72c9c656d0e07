#pragma once
// Texts and conversions for the values of described structure fields: fixed
// width hexadecimal, GUIDs in registry form, Windows FILETIME dates and
// durations, QuickTime dates, fixed-point and 80-bit extended numbers.
//
// Calendar dates are computed with plain integer arithmetic (proleptic
// Gregorian, UTC), so they never depend on the locale, the time zone or the
// range of the host's time functions.

#include <cstdint>
#include <string>

class FieldFormat {
 public:
  // `value` as `digits` lowercase hexadecimal digits with leading zeros.
  static std::string Hex(uint64_t value, int digits);
  // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}: Data1, Data2 and Data3 are stored
  // little-endian, the last eight bytes as they stand.
  static std::string GuidText(const uint8_t (&bytes)[16]);

  // 100 ns units since 1601-01-01 as YYYY-MM-DD hh:mm:ss; a date in 1601 (a
  // zero or near-zero FILETIME) shows the clock time alone.
  static std::string FileTimeText(uint64_t fileTime);
  // 100 ns units as hh:mm:ss.mmm on a 24-hour clock (whole days drop out).
  static std::string DurationText(uint64_t units);
  // Seconds since 1904-01-01 00:00:00 UTC as YYYY-MM-DD hh:mm:ss. A date
  // past year 9999 (of either form) gives an empty text.
  static std::string MacDateText(uint64_t seconds);

  // A floating-point number in the stream's default form ("1", "0.5").
  static std::string DecimalText(double value);
  // The integer part of an 80-bit extended float whose exponent is small
  // (sample rates): the mantissa's top 32 bits shifted to their place,
  // rounded on the last bit shifted out, saturated at 4,294,967,295.
  static uint32_t Extended80Value(const uint8_t (&bytes)[10]);

 private:
  struct CivilDate {
    int64_t year;
    unsigned month;
    unsigned day;
  };
  static CivilDate CivilFromDays(int64_t daysSince1970);
  static std::string ClockText(uint64_t secondsOfDay);
  static std::string DateTimeText(int64_t daysSince1970, uint64_t secondsOfDay);
};
