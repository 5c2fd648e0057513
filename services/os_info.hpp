// OS information: the description of the operating system that `os-info`
// answers, and the type guard of constructors that take outside values.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace zuv::os {

// The product name of a Windows version ("Windows 10", "Windows Server
// 2019" ...) from its major and minor numbers, whether it is a workstation
// and its build number. Kept as a pure function: descriptions received from
// such systems (and tests) name them the same way.
std::string windows_name(int32_t major, int32_t minor, bool workstation, int32_t build);

// The architecture word for a machine name as uname gives it: x86-64,
// ARM64, x86-32, ARM, else Unknown.
const char* arch_word(const std::string& machine);

// Pushes the OS description: an object! with name (string!), arch (word!),
// version (a tuple! of 3) and build (integer!), in that order.
Cell* get_os_info();

// Returns when the value's type is the given one, else raises script
// invalid-arg with the value.
void expect_type(const Cell* value, uint8_t type);

}  // namespace zuv::os
