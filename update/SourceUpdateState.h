// The update engine's state of one source: model/UpdateStateFields.h.
#pragma once

#include "model/UpdateStateFields.h"

namespace qb {

using SourceUpdateState = UpdateStateFields;

}  // namespace qb
