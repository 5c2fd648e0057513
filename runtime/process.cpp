// Process start on Linux: fault signals on an alternate stack, the
// interpreter's big-stack thread and the argument vector.
#include "runtime/process.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <new>
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "runtime/os.hpp"
#include "runtime/runtime.hpp"

namespace zuv::runtime {

volatile std::sig_atomic_t interrupt_mode = INTERRUPT_EXIT;
volatile std::sig_atomic_t interrupt_pending = 0;
void (*on_interrupt)() = nullptr;
void (*before_signal_exit)() = nullptr;

namespace {

constexpr size_t ALT_STACK_SIZE = 64 * 1024;
constexpr size_t MIN_THREAD_STACK = size_t(8) << 20;  // below this, run on the calling thread

// The zone below the interpreter's stack whose faults are stack overflows.
// Written before the interpreter runs; read by the fault handler.
volatile uintptr_t guard_low = 0;
volatile uintptr_t guard_high = 0;

// The faulting instruction where the machine context tells it, else the fault address.
uintptr_t instruction_address(const siginfo_t* info, const void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    if (uc) return uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    if (uc) return uintptr_t(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    if (uc) return uintptr_t(uc->uc_mcontext.pc);
#else
    (void)uc;
#endif
    return reinterpret_cast<uintptr_t>(info->si_addr);
}

// Runs on the alternate stack: only async-signal-safe calls from here on.
void fault_handler(int signal, siginfo_t* info, void* context) {
    int code = fault_error_code(signal, info->si_code, reinterpret_cast<uintptr_t>(info->si_addr));
    char report[160];
    size_t n = format_runtime_error(code, instruction_address(info, context), report, sizeof report);
    if (before_signal_exit) before_signal_exit();
    platform::write_fully(1, report, n);
    ::_exit(code);
}

// Ends the process from a signal handler.
[[noreturn]] void signal_exit(int status) {
    if (before_signal_exit) before_signal_exit();
    ::_exit(status);
}

// The console was closed: quietly, status 0.
void close_handler(int) { signal_exit(0); }

// Asked to end: status 128 + 15, as a shell reports a killed program.
void term_handler(int) { signal_exit(143); }

void interrupt_handler(int) {
    if (interrupt_mode == INTERRUPT_EXIT) signal_exit(130);
    interrupt_pending = 1;
}

void set_handler(int signal, void (*action)(int, siginfo_t*, void*)) {
    struct sigaction sa {};
    sa.sa_sigaction = action;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&sa.sa_mask);
    ::sigaction(signal, &sa, nullptr);
}

// Keeps a signal that the parent set to be ignored (nohup, background jobs)
// ignored. No SA_RESTART: a read of standard input returns on SIGINT.
void set_close_handler(int signal, void (*handler)(int)) {
    struct sigaction old {};
    ::sigaction(signal, nullptr, &old);
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN) return;
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigfillset(&sa.sa_mask);
    ::sigaction(signal, &sa, nullptr);
}

struct ThreadStart {
    void (*body)(void*);
    void* context;
};

void* thread_main(void* start) {
    auto* s = static_cast<ThreadStart*>(start);
    commit_stack();
    install_alt_stack();
    // A throw must not leave the thread (that would abort): whatever no scope
    // received ends here as at the top level.
    try {
        s->body(s->context);
    } catch (const Throw& t) {
        top_level_handler(t.code);
    } catch (const std::bad_alloc&) {
        quit_with_runtime_error(94, 0);
    }
    return nullptr;
}

}  // namespace

void init_process(int argc, char** argv) {
    commit_stack();
    install_fault_handlers();
    init_args(argc, argv);
}

void init_args(int argc, char** argv) {
    // The arguments are already UTF-8 (or the bytes the user gave) and argv
    // is null-terminated by the C runtime; it lives as long as the process.
    record.argc = argv ? argc : 0;
    record.argv = argv;
}

void commit_stack() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    size_t guard = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
        pthread_attr_getguardsize(&attr, &guard);
        auto limit = reinterpret_cast<uintptr_t>(low);
        // The main thread has no guard of its own: the kernel keeps a gap of
        // about 1 MB below its stack. Thread stacks get STACK_GUARD_SIZE.
        size_t zone = std::max(guard, STACK_GUARD_SIZE);
        record.stack_limit = limit;
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer leaves the redzones of frames an exception unwinds
        // poisoned when they reach deeper than 64 MB, and then reports the
        // next frames written there: the depth guard stops well before.
        constexpr size_t SANITIZED_DEPTH = size_t(56) << 20;
        if (size > SANITIZED_DEPTH) record.stack_limit = limit + (size - SANITIZED_DEPTH);
#endif
        guard_high = limit;
        guard_low = limit > zone ? limit - zone : 0;
    }
    pthread_attr_destroy(&attr);
}

void install_alt_stack() {
    size_t size = ALT_STACK_SIZE;
#ifdef _SC_SIGSTKSZ
    long needed = ::sysconf(_SC_SIGSTKSZ);
    if (needed > 0 && size_t(needed) > size) size = size_t(needed);
#endif
    void* area = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return;  // faults are still reported, unless the stack itself overflowed
    stack_t alt{};
    alt.ss_sp = area;
    alt.ss_size = size;
    if (::sigaltstack(&alt, nullptr) != 0) ::munmap(area, size);
}

void install_fault_handlers() {
    install_alt_stack();
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) set_handler(signal, fault_handler);
    set_close_handler(SIGHUP, close_handler);
    set_close_handler(SIGTERM, term_handler);
    set_close_handler(SIGINT, interrupt_handler);
}

int fault_error_code(int signal, int si_code, uintptr_t fault_address) {
    switch (signal) {
        case SIGSEGV:
            if (fault_address >= guard_low && fault_address < guard_high) return 19;
            switch (si_code) {
                case SEGV_MAPERR:
                case SEGV_ACCERR: return 1;
#ifdef SEGV_BNDERR
                case SEGV_BNDERR: return 5;
#endif
                default: return 32;
            }
        case SIGBUS:
            switch (si_code) {
                case BUS_ADRALN: return 2;
                case BUS_ADRERR: return 27;
                case BUS_OBJERR: return 28;
#ifdef BUS_MCEERR_AR
                case BUS_MCEERR_AR: return 29;
                case BUS_MCEERR_AO: return 30;
#endif
                default: return 34;
            }
        case SIGFPE:
            switch (si_code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                case FPE_FLTSUB: return 5;
                default: return 33;
            }
        case SIGILL:
            switch (si_code) {
                case ILL_ILLOPN: return 23;
                case ILL_ILLADR: return 24;
                case ILL_ILLTRP: return 25;
                case ILL_PRVOPC: return 15;
                case ILL_PRVREG: return 31;
                case ILL_COPROC: return 26;
                case ILL_BADSTK: return 19;
                default: return 17;
            }
        case SIGTRAP: return si_code == TRAP_TRACE ? 4 : 3;
        default: return 99;
    }
}

void run_on_big_stack(void (*body)(void*), void* context, size_t stack_size) {
    ThreadStart start{body, context};
    // What the fault handler and the depth guard knew before: the calling
    // thread's stack, restored once the big-stack thread has ended.
    uintptr_t saved_limit = record.stack_limit;
    uintptr_t saved_low = guard_low;
    uintptr_t saved_high = guard_high;
    // A refused size is halved down to MIN_THREAD_STACK (a smaller request is tried as given).
    for (size_t size = stack_size; size > 0; size = size / 2 >= MIN_THREAD_STACK ? size / 2 : 0) {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) break;
        pthread_t thread;
        bool started = pthread_attr_setstacksize(&attr, size) == 0 &&
                       pthread_attr_setguardsize(&attr, STACK_GUARD_SIZE) == 0 &&
                       pthread_create(&thread, &attr, thread_main, &start) == 0;
        pthread_attr_destroy(&attr);
        if (!started) continue;
        // Signals from outside go to the interpreter's thread, whose reads
        // they must interrupt (a window size change too, for the line
        // editor): this thread only waits for it.
        sigset_t outside, saved_mask;
        sigemptyset(&outside);
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) sigaddset(&outside, signal);
        pthread_sigmask(SIG_BLOCK, &outside, &saved_mask);
        pthread_join(thread, nullptr);
        pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
        record.stack_limit = saved_limit;
        guard_low = saved_low;
        guard_high = saved_high;
        return;
    }
    body(context);  // no thread could be made: the ordinary stack has to do
}

void top_level_handler(uint32_t code) {
    if (code == THROW_QUIT) quit_with_runtime_error(0, 0);
    quit_with_runtime_error(95, get_return_address());
}

}  // namespace zuv::runtime
