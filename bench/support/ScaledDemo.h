#pragma once
// The demo installation scaled up to a real plan for the rating benchmarks:
// 20,000 destinations in every carrier file, 30 LCR entries per site and
// 2,000 extensions.
#include <cstdint>

#include "demo/Demo.h"
#include "ordalis/EngineEvents.h"

// Adds Italian areas 39/09100..39/0920099 to the national group of every
// carrier file, and LCR entries and extensions to the engine database.
// Exits with a message when a statement fails.
void ScaleUpDemo(const ordalis::DemoInstallation& demo);


// Keeps the number of calls the engine reports done.
struct CallCounter : ordalis::EngineEvents {
  long done = 0;
  void ProgressChange(std::int32_t& calls_done, std::int32_t&) override { done = calls_done; }
};
