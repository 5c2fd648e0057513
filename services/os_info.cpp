#include "services/os_info.hpp"

#include <sys/utsname.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"

namespace zuv::os {

namespace {

// PRETTY_NAME of the os-release file, unquoted; empty when there is none.
std::string pretty_name() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
            std::string v = line.substr(12);
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return {};
}

// The first three numbers of a release text such as "6.1.0-13-amd64" and
// the build number after the first "-" (0 when there is none).
void release_numbers(const char* text, int32_t numbers[3], int32_t* build) {
    const char* p = text;
    for (int i = 0; i < 3; i++) {
        int64_t n = 0;
        bool any = false;
        while (*p >= '0' && *p <= '9') {
            if (n < 255) n = n * 10 + (*p - '0');
            any = true;
            p++;
        }
        numbers[i] = any ? int32_t(n > 255 ? 255 : n) : 0;
        if (*p == '.') p++;
        else {
            for (int j = i + 1; j < 3; j++) numbers[j] = 0;
            break;
        }
    }
    *build = 0;
    const char* dash = std::strchr(text, '-');
    if (dash) {
        int64_t n = 0;
        for (const char* q = dash + 1; *q >= '0' && *q <= '9' && n < 100000000; q++) n = n * 10 + (*q - '0');
        *build = int32_t(n);
    }
}

}  // namespace

std::string windows_name(int32_t major, int32_t minor, bool workstation, int32_t build) {
    const char* name = nullptr;
    if (major == 5) {
        if (minor == 0) name = "2000";
        else if (minor == 1) name = "XP";
        else if (minor == 2) name = workstation ? "Server 2003" : "Server 2003 R2";
    } else if (major == 6) {
        if (minor == 0) name = workstation ? "Vista" : "Server 2008";
        else if (minor == 1) name = workstation ? "7" : "Server 2008 R1";
        else if (minor == 2) name = workstation ? "8" : "Server 2012";
        else if (minor == 3) name = workstation ? "8.1" : "Server 2012 R2";
    } else if (workstation) {
        name = build >= 22000 ? "11" : "10";
    } else {
        name = build >= 20285 ? "Server 2022" : build >= 17134 ? "Server 2019" : "Server 2016";
    }
    // A version missing from the table is named by its numbers.
    if (!name) return "Windows " + std::to_string(major) + "." + std::to_string(minor);
    return std::string("Windows ") + name;
}

const char* arch_word(const std::string& m) {
    if (m == "x86_64" || m == "amd64") return "x86-64";
    if (m == "aarch64" || m == "arm64") return "ARM64";
    if (m == "i386" || m == "i486" || m == "i586" || m == "i686" || m == "x86") return "x86-32";
    if (m.rfind("arm", 0) == 0) return "ARM";
    return "Unknown";
}

Cell* get_os_info() {
    struct utsname u {};
    bool known = ::uname(&u) == 0;
    std::string name = pretty_name();
    if (name.empty()) name = known ? u.sysname : "Linux";
    int32_t numbers[3] = {0, 0, 0};
    int32_t build = 0;
    if (known) release_numbers(u.release, numbers, &build);
    const char* arch = arch_word(known ? u.machine : "");

    // The spec [name: "..." arch: word version: x.y.z build: n], made
    // without evaluation.
    Cell* spec = block::make_at(cell::begin(stack::push_raw()), 8);
    set_word::append_from_c_string("name", spec);
    string::load_in(reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()), spec, 0);
    set_word::append_from_c_string("arch", spec);
    word::append_from_c_string(arch, spec);
    set_word::append_from_c_string("version", spec);
    Cell version;
    tuple::make_from_integers(cell::begin(&version), numbers, 3);
    block::append_cell(spec, &version);
    set_word::append_from_c_string("build", spec);
    integer::make_in(spec, build);
    Cell* result = cell::begin(stack::push_raw());
    object::construct(spec, nullptr, true, result);
    Cell made = *result;
    stack::top = spec;
    return stack::push(&made);
}

void expect_type(const Cell* value, uint8_t type) {
    if (type_of(value) == type) return;
    Cell v = *value;
    fire(ErrorCategory::script, "invalid-arg", &v);
}

}  // namespace zuv::os
