// Process start: fault signals, the alternate signal stack, the interpreter's
// big-stack thread, the argument vector, and the top-level catch.
//
// Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP) are taken on an alternate
// stack, mapped by signal and si_code to the numbered runtime errors, reported
// with write(2) and ended with _exit():
//
//   SIGSEGV  address in the guard zone of the interpreter's stack  19 stack error or overflow
//            SEGV_MAPERR, SEGV_ACCERR                               1 access violation
//            SEGV_BNDERR                                            5 bounds exceeded
//            other                                                 32 segmentation fault
//   SIGBUS   BUS_ADRALN 2, BUS_ADRERR 27, BUS_OBJERR 28, BUS_MCEERR_AR 29, BUS_MCEERR_AO 30,
//            other 34
//   SIGFPE   FPE_INTDIV 13, FPE_INTOVF 14, FPE_FLTDIV 7, FPE_FLTOVF 10, FPE_FLTUND 12,
//            FPE_FLTRES 8, FPE_FLTINV 9, FPE_FLTSUB 5, other 33
//   SIGILL   ILL_ILLOPC 17, ILL_ILLOPN 23, ILL_ILLADR 24, ILL_ILLTRP 25, ILL_PRVOPC 15,
//            ILL_PRVREG 31, ILL_COPROC 26, ILL_BADSTK 19, other 17
//   SIGTRAP  TRAP_TRACE 4, other 3
//   any other signal given to the handler                          99 unknown error
//
// The address reported is the faulting instruction's.
//
// Signals from outside: SIGHUP (the terminal went away) ends the process
// quietly with status 0, the console-close case; SIGTERM ends it with status
// 143, so a killed program never looks successful. SIGINT depends on
// interrupt_mode: a script run without the prompt loop ends with status 130;
// a command running at the prompt gets a halt request, which the interpreter
// takes at its next expression; a read of standard input is cut short.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "runtime/throw.hpp"

namespace zuv::runtime {

// What SIGINT does (interrupt_mode).
constexpr int INTERRUPT_EXIT = 0;     // end the process with status 130
constexpr int INTERRUPT_HALT = 1;     // request a halt of the running command
constexpr int INTERRUPT_READING = 2;  // cut short the read of standard input

extern volatile std::sig_atomic_t interrupt_mode;
// Set by SIGINT in the halt and reading modes; the interpreter polls it.
extern volatile std::sig_atomic_t interrupt_pending;
// What the interpreter calls when it finds a halt request: set by the console.
extern void (*on_interrupt)();
// Called by the handlers of the signals that end the process, just before they
// end it: the terminal layer puts the terminal's mode back there. Only
// async-signal-safe calls.
extern void (*before_signal_exit)();

// Clears a pending interrupt; true when there was one.
inline bool take_interrupt() {
    if (!interrupt_pending) return false;
    interrupt_pending = 0;
    return true;
}

// True while a halt request waits for the interpreter: what cuts a wait or a
// child process short at the prompt.
inline bool halt_requested_q() { return interrupt_pending && interrupt_mode == INTERRUPT_HALT; }

// The interpreter's poll, once per expression.
inline void poll_interrupt() {
    if (halt_requested_q()) [[unlikely]] {
        interrupt_pending = 0;
        if (on_interrupt) on_interrupt();
    }
}

constexpr size_t BIG_STACK_SIZE = size_t(512) << 20;  // the interpreter recurses deeply
constexpr size_t STACK_GUARD_SIZE = size_t(1) << 20;  // no-access zone below that stack

// Platform start, in order: stack bounds of the current thread, fault
// handlers, the argument vector.
void init_process(int argc, char** argv);

// Stores count and vector in the runtime record (argv is UTF-8 as it stands).
void init_args(int argc, char** argv);

// Records the calling thread's stack: record.stack_limit and the guard zone
// below it whose faults are reported as stack overflow.
void commit_stack();

// Installs the fault and console-close handlers for the process, and an
// alternate signal stack for the calling thread.
void install_fault_handlers();

// Gives the calling thread its own alternate signal stack (one per thread).
void install_alt_stack();

// Maps a fault signal to its runtime error number (table above).
int fault_error_code(int signal, int si_code, uintptr_t fault_address);

// Runs body(context) on a new thread with a stack of stack_size bytes (smaller
// when the system refuses that much), joined at once; the thread records its
// stack bounds and alternate stack first. Without any thread, runs it here.
void run_on_big_stack(void (*body)(void*), void* context, size_t stack_size = BIG_STACK_SIZE);

template <class F>
void run_on_big_stack(F&& body, size_t stack_size = BIG_STACK_SIZE) {
    using Fn = std::remove_reference_t<F>;
    run_on_big_stack([](void* f) { (*static_cast<Fn*>(f))(); }, &body, stack_size);
}

// The top-level catch receives what no scope received: the quit marker ends
// the process with status 0 and no output, any other code is runtime error 95.
[[noreturn]] void top_level_handler(uint32_t code);

template <class Body>
void run_top_level(Body&& body) {
    try {
        body();
    } catch (const Throw& t) {
        top_level_handler(t.code);
    }
}

}  // namespace zuv::runtime
