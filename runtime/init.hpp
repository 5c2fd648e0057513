// Runtime initialisation and release.
#pragma once

namespace zuv::runtime {

// While set, words and issues made from names are also appended to the root
// block so that they stay reachable; start-up clears it.
extern bool boot_flag;

// Brings the whole runtime up, in a fixed order; runs once per process.
void init();
// Gives every frame and the tracked heap back.
void release();

}  // namespace zuv::runtime
