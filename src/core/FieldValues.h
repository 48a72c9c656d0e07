#pragma once
// The values of the fields visited so far by one structure interpretation,
// indexed by the field's position in its description.

#include <cstdint>
#include <string>
#include <vector>

struct FieldValue {
  uint32_t number = 0;
  std::string text;
};

using FieldValues = std::vector<FieldValue>;
