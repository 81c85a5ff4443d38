#pragma once

// Symbols of the OVLFunctionalityCore shared library. Everything else has hidden visibility.
#define OVLFUNCTIONALITYCORE_EXPORT __attribute__((visibility("default")))
