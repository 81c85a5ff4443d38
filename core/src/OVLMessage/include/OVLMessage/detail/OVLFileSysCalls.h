#pragma once
// The system calls through which OVLMessage::save() writes files: those of the common library's
// atomic file replacement (OVLCommon/AtomicFile.h), which tests replace to force failures.
// Not for production use.

#include "OVLCommon/AtomicFile.h"

namespace OVL::detail {

using OVLFileSysCalls = FileSysCalls;

}  // namespace OVL::detail
