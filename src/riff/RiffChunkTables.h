#pragma once
// The name tables of the chunks that any RIFF form may hold: the INFO text
// chunk ids, the clipboard formats of display chunks and the WAVE format tags.

#include <cstdint>

class RiffChunkTables {
 public:
  // The 8-bit text chunks of an INFO list (`IART`, `INAM`, ...).
  static bool IsInfoTextToken(uint32_t token);
  // Their UTF-16 counterparts (`UART`, `UNAM`, ...).
  static bool IsWideInfoTextToken(uint32_t token);
  // " Text", " Bitmap", ... for a clipboard format; " (unknown)" otherwise.
  static const char* ClipboardFormatName(uint32_t format);
  // "(PCM)", "(MP3)", ...; null for a tag that is not in the table.
  static const char* FormatTagName(uint16_t tag);
};
