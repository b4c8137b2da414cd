// Reads JSON text into a JsonValue. Strings keep their UTF-16 code units as
// written (\u escapes included, lone surrogates too). Numbers must be
// integers; null, fractions and exponents are refused, as are repeated keys.
// Never throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/Json.h"

namespace qb::cli {

// The value, or nothing with `error` set (with the byte offset).
std::optional<JsonValue> ParseJson(std::string_view text, std::string& error);

}  // namespace qb::cli
