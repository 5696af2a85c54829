#pragma once
// Files as the update site serves them: the content, 2 spare bytes, the marker "ZORKAL" and a
// little-endian signed 32-bit check sum of the content; a content beginning "CMPVN" is a
// compressed payload ("CMPVN", the plain length in 8 digits, a zlib stream). The check sum finds
// damage in transit; it is no signature and proves nothing about who made the file.
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view TrailerMarker = "ZORKAL";
constexpr size_t TrailerSize = 12;
inline constexpr std::string_view CompressedMagic = "CMPVN";
// "CMPVN" and the eight digits.
constexpr size_t CompressedHeaderSize = 13;

// The check sum over a wrapped file's content (every byte but the last 12); 0 for a file
// shorter than the trailer.
int32_t FileChecksum(std::string_view file);
// The marker stands in the 6 bytes before the last 4.
bool HasChecksumMarker(std::string_view file);
// The marker is there and the stored sum equals the sum over the content.
bool VerifyChecksum(std::string_view file);
// Cuts the trailer off and returns the stored sum; -1 (file unchanged) without a marker.
int32_t StripChecksum(std::string& file);

enum class UnpackResult { NotCompressed, Unpacked, Bad };
// Unpacks a "CMPVN" payload in place (the run reports a bad one as "Error in file: no CRC"). Bad (text unchanged) when the length is not 8 digits,
// the stream does not inflate, or it inflates to another length than the header says.
UnpackResult UnpackCompressed(std::string& text);

// The check of one downloaded file, as the run reports it: empty when the file is good (file
// then holds the plain content), else the status text. Definition files must begin "VERSION".
std::string CheckUpdateFile(std::string& file, bool definitionFile);

// Wraps content as the site serves it: compressed unless it is a definition file (which must
// begin "VERSION"), then the trailer. The publishing tool uses it.
std::string WrapUpdateFile(std::string_view content, bool compress);
// The trailer alone over content.
std::string AppendTrailer(std::string_view content);
// "CMPVN" + length + zlib stream; empty when the content is too large for 8 digits.
std::string CompressPayload(std::string_view content);

// The version an installed binary file carries in its last 8 bytes (a little-endian double);
// 0 when it is missing or outside [1, 100].
double ReadTrailerVersion(const std::string& path);
