#pragma once
// Prints a fixed structure from its description: one line per field with its
// offset, name and value, decoded enumerations and flags, counted texts and
// arrays, size checks and the missing/additional data trailer.

#include <cstdint>
#include <string>

#include "core/StructDesc.h"

class CParser;
class StructureHooks;

class StructureDumper {
 public:
  static constexpr uint32_t kNoItemLimit = 0xFFFFFFFF;

  // Reads span - headerSize bytes at the parser's current position and
  // interprets them. Returns the bytes consumed, 0 when the read failed. The
  // read never asks for more than the file still holds (plus the one byte
  // that makes the checked read report the shortfall).
  static uint32_t DumpStructure(CParser& parser, int indent, uint32_t headerSize, uint32_t span,
                                uint32_t shownSize, const StructDesc& desc, uint32_t itemLimit);
  // Interprets a payload already in memory. The structure's file position is
  // the parser's current position minus `span`. `hooks` (may be null) adds
  // what the description cannot say: conditions, notes and checks.
  static uint32_t InterpretStructure(CParser& parser, int indent, uint32_t span,
                                     const uint8_t* payload, uint32_t payloadSize,
                                     uint32_t shownSize, const StructDesc& desc, uint32_t itemLimit,
                                     const StructureHooks* hooks = nullptr);

  // Verifies a description before it is ever used: known types, every
  // negative count of a counted field names an earlier field that records a
  // number, FourCC formats are 0 or hexadecimal, no array end without an
  // open array (arrays still open at the end of the list close there), value
  // names only on fields that can be decoded. On failure `why` names the
  // field and the fault.
  static bool CheckDescription(const StructDesc& desc, std::string& why);
};
