#include "ads/update/update_file.h"

#include <zlib.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/checksum.h"
#include "core/log.h"
#include "core/program_state.h"
#include "platform/string_list.h"

namespace {

int32_t StoredSum(std::string_view file) {
  const auto* p = reinterpret_cast<const unsigned char*>(file.data() + file.size() - 4);
  const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t FileChecksum(std::string_view file) {
  if (file.size() < TrailerSize) return 0;
  return TextChecksum(file.substr(0, file.size() - TrailerSize));
}

bool HasChecksumMarker(std::string_view file) {
  return file.size() >= TrailerSize && file.substr(file.size() - 10, 6) == TrailerMarker;
}

bool VerifyChecksum(std::string_view file) {
  return HasChecksumMarker(file) && StoredSum(file) == FileChecksum(file);
}

int32_t StripChecksum(std::string& file) {
  if (!HasChecksumMarker(file)) return -1;
  const int32_t sum = StoredSum(file);
  file.resize(file.size() - TrailerSize);
  return sum;
}

UnpackResult UnpackCompressed(std::string& text) {
  if (text.compare(0, CompressedMagic.size(), CompressedMagic) != 0) return UnpackResult::NotCompressed;
  if (text.size() < CompressedHeaderSize) return UnpackResult::Bad;
  uLong plain = 0;
  for (size_t i = CompressedMagic.size(); i < CompressedHeaderSize; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return UnpackResult::Bad;
    plain = plain * 10 + uLong(c - '0');
  }
  std::string out;
  if (plain > 0) {
    out.resize(plain);
    uLongf got = plain;
    const uLong srcLen = uLong(text.size() - CompressedHeaderSize);
    const int rc = uncompress(reinterpret_cast<Bytef*>(out.data()), &got,
                              reinterpret_cast<const Bytef*>(text.data() + CompressedHeaderSize), srcLen);
    if (rc != Z_OK || got != plain) return UnpackResult::Bad;
  } else if (text.size() > CompressedHeaderSize) {
    // An empty file still carries a stream: it must inflate to nothing.
    char one = 0;
    uLongf got = 1;
    const int rc = uncompress(reinterpret_cast<Bytef*>(&one), &got,
                              reinterpret_cast<const Bytef*>(text.data() + CompressedHeaderSize),
                              uLong(text.size() - CompressedHeaderSize));
    if (rc != Z_OK || got != 0) return UnpackResult::Bad;
  }
  text.swap(out);
  return UnpackResult::Unpacked;
}

std::string CheckUpdateFile(std::string& file, bool definitionFile) {
  if (file.size() < TrailerSize || !HasChecksumMarker(file)) return "Error in file: no CRC";
  if (!VerifyChecksum(file)) return "Error in file: CRC Check Failed";
  StripChecksum(file);
  if (definitionFile) {
    std::string head = file.substr(0, 7);
    for (char& c : head) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (head != "VERSION") return "Error in file: no VERSION";
  }
  // A payload that does not unpack is as unusable as one without its trailer.
  if (UnpackCompressed(file) == UnpackResult::Bad) return "Error in file: no CRC";
  return {};
}

std::string AppendTrailer(std::string_view content) {
  std::string out(content);
  out.append(2, '\0');
  out.append(TrailerMarker);
  const uint32_t sum = static_cast<uint32_t>(TextChecksum(content));
  for (int i = 0; i < 4; ++i) out.push_back(char((sum >> (8 * i)) & 0xFF));
  return out;
}

std::string CompressPayload(std::string_view content) {
  if (content.size() > 99999999u) return {};
  uLongf bound = compressBound(uLong(content.size()));
  std::string out(CompressedHeaderSize + bound, '\0');
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08u", unsigned(content.size()));
  std::memcpy(out.data(), CompressedMagic.data(), CompressedMagic.size());
  std::memcpy(out.data() + CompressedMagic.size(), digits, 8);
  if (compress2(reinterpret_cast<Bytef*>(out.data() + CompressedHeaderSize), &bound,
                reinterpret_cast<const Bytef*>(content.data()), uLong(content.size()), Z_BEST_COMPRESSION) != Z_OK)
    return {};
  out.resize(CompressedHeaderSize + bound);
  return out;
}

std::string WrapUpdateFile(std::string_view content, bool compress) {
  if (!compress) return AppendTrailer(content);
  const std::string packed = CompressPayload(content);
  return packed.empty() ? std::string() : AppendTrailer(packed);
}

double ReadTrailerVersion(const std::string& path) {
  if (DebugOn) WriteDebugLog("Reading version of \"" + path + "\"");
  double v = 0;
  // The checked read: a pipe in a definition file's place cannot hang the update check.
  std::string bytes;
  if (ReadFileChecked(path, bytes) == FileRead::Ok && bytes.size() >= 8) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 8);
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | b[i];
    std::memcpy(&v, &bits, sizeof v);
  }
  if (!(v >= 1 && v <= 100)) v = 0;
  if (DebugOn) WriteDebugLog("Version read: " + std::to_string(v));
  return v;
}
