#pragma once
// What the caller of the structure dumper adds to a description where a
// constant table cannot say it: a field's line hidden on a condition that
// other fields decide, a note after a field's value that depends on other
// fields, and the checks that follow a field's line. The table stays the one
// place that says which fields there are, in which order, and how each is
// shown; the hooks only see a field's index in the description and the
// values visited so far.

#include <cstdint>
#include <string>

#include "core/FieldValues.h"

class StructureHooks {
 public:
  virtual ~StructureHooks() = default;

  // True hides the line of field `field` (its value is still read and recorded).
  virtual bool Hides(uint32_t /*field*/, const FieldValues& /*values*/) const { return false; }
  // Text appended to the line of field `field`, after its value and its name.
  virtual std::string Note(uint32_t /*field*/, const FieldValues& /*values*/) const {
    return std::string();
  }
  // Runs after the line of field `field` (and its flag lines), whether that
  // line was shown or not; `depth` is the depth of the field's line.
  virtual void Check(uint32_t /*field*/, const FieldValues& /*values*/, bool /*shown*/,
                     int /*depth*/) const {}
};
