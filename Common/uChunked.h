// The size line of a chunked body: "1a2b", "1a2b;name=value", "1a2b ext".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The size part of a chunk-size line: the text before its first blank, tab or
// ";" (a chunk extension), trimmed. This is what the relay forwards.
std::string ChunkSizeText(std::string_view line);

// The chunk size that SizeText (as returned by ChunkSizeText) denotes, or
// nothing when it is not a hexadecimal number that fits in 63 bits. A size the
// relay cannot read ends the body: the two sides no longer agree on framing.
std::optional<int64_t> ParseChunkSize(std::string_view sizeText);
