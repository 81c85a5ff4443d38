// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// Atomic replacement of a file: the new content goes to a temporary file beside the target
// (`<path>.tmp-<pid>-<n>`), which is flushed to disk, renamed over the target, and the directory
// flushed, so that a crash at any moment leaves the old or the new complete file, never a torn one.
// A failure removes the temporary file. The file calls go through the system-call seam
// (OVLCommon/SysCall.h), where tests force failures. Thread-safe; concurrent replacements of one path each
// leave a complete file (the last rename wins).

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "OVLCommon/Export.h"

namespace OVL {

// Receives chunks of the new content; returns false once a write has failed.
class ChunkSink {
public:
    virtual ~ChunkSink() = default;
    virtual bool put(const void* data, std::size_t size) = 0;
};

// Calls produce(sink) to generate the content and stores it atomically at `path`. An existing
// target keeps its mode (and must be a writable regular file); a new one gets `newFileMode`
// (narrowed by the umask). 0 on success; -1 with `error` set otherwise, in which case `path` is
// untouched and no temporary file stays.
OVLCOMMON_EXPORT int replaceFileAtomically(const std::string& path,
                                           const std::function<void(ChunkSink&)>& produce, std::string& error,
                                           mode_t newFileMode = 0666);
OVLCOMMON_EXPORT int replaceFileAtomically(const std::string& path, std::string_view content,
                                           std::string& error, mode_t newFileMode = 0666);

// The prefix of the temporary files that replaceFileAtomically(path) creates: `<path>.tmp`.
// Files starting with it that no replacement is writing are left-overs of a crash.
OVLCOMMON_EXPORT std::string temporaryPrefix(const std::string& path);

}  // namespace OVL
