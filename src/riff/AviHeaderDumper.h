#pragma once
// Dumps and checks the AVI headers of the header list: the main header
// ('avih'), the stream headers ('strh'), the stream formats ('strf': bitmap
// header, DVINFO, subtitle and other formats; audio formats go to
// AviAudioFormatDumper), the video properties ('vprp') and the OpenDML
// extended header ('dmlh'). Every check reports and continues.
//
// The bodies are passed as read from the file (they may be shorter than the
// structure; missing bytes read as zero). The model already holds the header
// being dumped, so checks against the main header and the stream's own
// header read it from there.

#include <cstddef>
#include <cstdint>
#include <string>

#include "riff/AviModel.h"

class CParser;

class AviHeaderDumper {
 public:
  AviHeaderDumper(CParser& parser, const AviModel& model) : parser_(parser), model_(model) {}

  void DumpMainHeader(const uint8_t* body, uint32_t size, int depth);
  void DumpStreamHeader(size_t stream, const uint8_t* body, uint32_t size, int depth);
  void DumpStreamFormat(size_t stream, const uint8_t* body, uint32_t size, int depth);
  void DumpVideoProperties(const uint8_t* body, uint32_t size, int depth);
  void DumpExtendedHeader(const uint8_t* body, uint32_t size, int depth);

  // A bitmap header met outside an AVI file (the video format of an ASF
  // stream), dumped as an AVI video format with no main header to check it
  // against; the codec comes from the header's compression field.
  static void DumpForeignBitmap(CParser& parser, const uint8_t* body, uint32_t size, int depth);

  // Codec name of a video handler, e.g. " (Motion JPEG)"; empty when unknown.
  static std::string CodecName(uint32_t handler);
  // rate / scale, scale 0 counted as 1.
  static double StreamRate(const AviStreamHeader& header);
  // length / stream rate in milliseconds, rounded; 0 for a rate of 0.01 or less.
  static uint32_t StreamDurationMs(const AviStreamHeader& header);
  // total frames x microseconds per frame / 1000, rounded.
  static uint32_t MainDurationMs(const AviMainHeader& header);
  // 1 / (microseconds per frame / 1e6), 0 microseconds counted as 1.
  static double MainFrameRate(const AviMainHeader& header);

  // Helpers shared with the audio format dump.

  // A code and the text printed for it.
  struct CodeName {
    uint32_t value;
    const char* name;
  };
  // A table of code names: the text of a code, or `otherwise` when the code
  // is not in the table.
  struct CodeNames {
    constexpr CodeNames() = default;
    template <size_t N>
    constexpr CodeNames(const CodeName (&table)[N]) : entries(table), count(N) {}  // NOLINT
    const char* Find(uint32_t value, const char* otherwise) const;
    const CodeName* entries = nullptr;
    size_t count = 0;
  };
  // One bit (or group of bits) of a flags word, shown from `level` on.
  struct FlagName {
    uint32_t mask;
    const char* name;
    uint32_t level;
  };
  // A little field of a fixed structure: its offset in the body, its width
  // (1, 2 or 4 bytes), its label (offset prefix included) and the names of
  // its values (a value not named gets " (undefined)"; no table, no suffix).
  struct WordField {
    uint32_t offset;
    uint32_t width;
    const char* label;
    CodeNames names;
  };

  // "label: value" followed by `suffix`, at `depth`; nothing at verbosity 0
  // (field lines are item lines, which verbosity 0 silences).
  static void FieldLine(const CParser& parser, const std::string& label, const std::string& value,
                        int depth, const std::string& suffix = std::string());
  // One line per flag: "+ name" when any of its bits is set, "- name" when
  // none is (only at verbosity 3 and above); flags above the verbosity are
  // left out.
  static void FlagLines(const CParser& parser, const FlagName* flags, size_t count, uint32_t value,
                        int depth);
  // The fields of `fields` whose first byte lies within the body, read at
  // `base` + offset (missing bytes read as zero).
  static void WordFieldLines(const CParser& parser, const WordField* fields, size_t count,
                             const uint8_t* body, uint32_t size, uint32_t base, int depth);
  // A number of milliseconds, rounded (add 0.5, truncate) and clamped to
  // 0..4294967295; NaN gives 0.
  static uint32_t RoundedMs(double milliseconds);
  // `value` rounded to a whole number, clamped to 0..2^64-1; NaN gives 0.
  static uint64_t RoundedWhole(double value);
  // "0x" and `digits` lowercase hexadecimal digits.
  static std::string HexText(uint64_t value, int digits);

 private:
  void CheckStreamTiming(const AviStreamHeader& header, int depth) const;
  void DumpDvType1Format(const uint8_t* body, uint32_t size, int depth);
  void DumpVideoFormat(const AviStreamHeader& header, const uint8_t* body, uint32_t size,
                       int depth);
  void DumpBitmapInfo(const uint8_t* body, uint32_t size, int depth);
  // Bytes of the colour table behind a bitmap header, 0 when it has none.
  uint64_t PaletteBytes(const uint8_t* body, uint32_t size) const;
  void CheckBitmapAgainstMain(const uint8_t* body, uint32_t size, int depth) const;
  void DumpBitmapV4V5(uint32_t headerSize, const uint8_t* body, uint32_t size, int depth) const;
  bool DumpCodecExtra(uint32_t handler, const uint8_t* body, uint32_t size, int depth) const;
  void DumpJpegExtra(const uint8_t* body, uint32_t size, int depth) const;
  void DumpHuffyuvExtra(const uint8_t* body, uint32_t size, int depth) const;
  void DumpLosslessCodecExtra(const uint8_t* body, uint32_t size, int depth) const;
  void DumpDvInfo(const uint8_t* body, uint32_t size, int depth) const;
  void DecodeDvPacks(unsigned word, uint32_t value, int depth) const;
  void DumpSubtitleFormat(const uint8_t* body, uint32_t size, int depth) const;
  bool Present(uint32_t offset, uint32_t size) const { return offset < size; }

  CParser& parser_;
  const AviModel& model_;
};
