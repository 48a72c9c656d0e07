#pragma once
// ASF (Windows Media audio and video) files: the top-level objects, the
// children of the Header Object and of the Header Extension Object, each
// known object printed through its description, the type-specific data of
// streams and the typed values of metadata decoded, the data packets walked
// (AsfPacketWalker), unknown and padding objects skipped. Object sizes are
// checked against their parents and the file.

#include <cstdint>
#include <string>

#include "core/CParser.h"

struct StructDesc;

class CASFParser : public CParser {
 public:
  CASFParser(RunOptions options, ReportOutput& output);

  bool Parse(const std::string& sourcePath, const std::string& outputPath) override;
  uint32_t DumpSubObject(const std::string& tag, uint32_t size, const uint8_t* payload,
                         uint32_t payloadSize, uint32_t offset, int indent,
                         const FieldValues& values, uint32_t fieldIndex) override;

 private:
  // An object's header: its GUID text, its size as stated (header
  // included) and where it starts.
  struct ObjectHeader {
    std::string guid;
    uint64_t size = 0;
    uint64_t start = 0;
    uint64_t span = 0;  // the size cut to what is left of its container
  };
  // The three containers differ in what they hold and in how they test the
  // file position.
  enum class Container { kFile, kHeader, kHeaderExtension };

  bool WalkFile(int depth);
  // Walks the objects of `container` over `remaining` bytes from the current
  // position; their lines at `depth`.
  bool WalkObjects(Container container, uint64_t remaining, int depth);
  bool ReadObjectHeader(ObjectHeader& object, int depth);
  // An object of `container`, by its GUID.
  bool HandleObject(Container container, const ObjectHeader& object, int depth);
  bool WalkContainer(const ObjectHeader& object, const StructDesc& desc, uint32_t ownFields,
                     Container children, int depth);
  // The Data Object and its packets.
  bool WalkData(const ObjectHeader& object, int depth);
  // Whether an object of the file starts at the current position.
  bool AtTopLevelObject();

  // Prints a described object; `itemLimit` shows only the first items of
  // its arrays.
  bool DumpObject(const ObjectHeader& object, const StructDesc& desc, bool itemLimit, int depth);
  bool DumpFields(const ObjectHeader& object, const StructDesc& desc, uint64_t length,
                  bool itemLimit, int depth);
  bool SkipUndefined(const ObjectHeader& object, bool shown, int depth);
  bool SkipPadding(const ObjectHeader& object, int depth);

  // The type-specific data of a stream (`streamType` a GUID text).
  uint32_t DumpTypeSpecificData(const std::string& streamType, const uint8_t* data, uint32_t size,
                                uint64_t position, int indent);
  uint32_t DumpEmbeddedStreamProperties(const uint8_t* data, uint32_t size, uint64_t position,
                                        int indent);
  // A metadata value of data type `type` and `length` bytes.
  uint32_t DumpTypedValue(uint32_t type, uint32_t length, const uint8_t* data, uint32_t size,
                          int indent);

  // File position of the first payload byte of the description being printed.
  uint64_t payloadPosition_ = 0;
  // From the File Properties Object: the fixed packet size when its minimum
  // and maximum agree, else 0.
  uint32_t fixedPacketSize_ = 0;
};
