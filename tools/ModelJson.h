// The feed model as the canonical JSON of `dump` and `write`:
//   {"records":[RECORD,...],"rootGroups":[ID,...]}
// with records in identifier order, each tagged "group", "source" or
// "article".
#pragma once

#include <string>

#include "model/FeedsManager.h"
#include "tools/Json.h"

namespace qb::cli {

JsonValue ModelToJson(const CFeedsManager& manager);

// Fills an empty manager from MODEL (or from a whole dump output, taking its
// "model"). Keys a record leaves out keep the defaults of a new record; the
// record's "type" and "id" are required. False, with `error` set, for
// anything malformed: unknown keys, wrong types, values out of range, a date
// that is not real, an identifier or history key given twice.
bool JsonToModel(const JsonValue& json, CFeedsManager& manager, std::string& error);

}  // namespace qb::cli
