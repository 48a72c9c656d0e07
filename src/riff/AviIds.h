#pragma once
// Chunk ids, list types, stream types and main-header flags of AVI files,
// shared by the parser and the writer.

#include <cstdint>

#include "core/FourCC.h"

namespace avi {

// Chunks and lists.
constexpr uint32_t kRiffId = FourCC("RIFF");
constexpr uint32_t kListId = FourCC("LIST");
constexpr uint32_t kJunkId = FourCC("JUNK");
constexpr uint32_t kJunqId = FourCC("JUNQ");
constexpr uint32_t kRecId = FourCC("rec ");
constexpr uint32_t kHdrlId = FourCC("hdrl");
constexpr uint32_t kAvihId = FourCC("avih");
constexpr uint32_t kStrlId = FourCC("strl");
constexpr uint32_t kStrhId = FourCC("strh");
constexpr uint32_t kStrfId = FourCC("strf");
constexpr uint32_t kStrdId = FourCC("strd");
constexpr uint32_t kStrnId = FourCC("strn");
constexpr uint32_t kIndxId = FourCC("indx");
constexpr uint32_t kOdmlId = FourCC("odml");
constexpr uint32_t kDmlhId = FourCC("dmlh");
constexpr uint32_t kMoviId = FourCC("movi");
constexpr uint32_t kIdx1Id = FourCC("idx1");

// Stream types of 'strh'.
constexpr uint32_t kVidsType = FourCC("vids");
constexpr uint32_t kIavsType = FourCC("iavs");
constexpr uint32_t kAudsType = FourCC("auds");
constexpr uint32_t kTxtsType = FourCC("txts");
constexpr uint32_t kMidsType = FourCC("mids");

// Flags of the main header.
constexpr uint32_t kHasIndexFlag = 0x10;
constexpr uint32_t kMustUseIndexFlag = 0x20;
constexpr uint32_t kInterleavedFlag = 0x100;

}  // namespace avi
