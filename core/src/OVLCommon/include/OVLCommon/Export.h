#pragma once

#define OVLCOMMON_EXPORT __attribute__((visibility("default")))
