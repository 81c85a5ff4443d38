#pragma once

// Symbols of the OVLCore shared library. Everything else has hidden visibility.
#define OVLCORE_EXPORT __attribute__((visibility("default")))
