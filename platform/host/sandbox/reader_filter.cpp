#include "platform/host/sandbox/reader_filter.h"

#include <errno.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdint>
#include <initializer_list>

#include "platform/host/sandbox/sanitizers.h"

namespace host {

namespace {

// Owns a libseccomp context.
class Filter {
public:
    Filter() : context_(seccomp_init(SCMP_ACT_KILL_PROCESS)) {
        // The calls as a binary tree rather than a list: the kernel runs the
        // filter for every call number when it loads it, and for each call
        // the reader makes. Without it the filter is slower, no weaker.
        if (context_ != nullptr) seccomp_attr_set(context_, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    }
    ~Filter() {
        if (context_ != nullptr) seccomp_release(context_);
    }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    bool Valid() const { return context_ != nullptr && ok_; }

    void Allow(std::initializer_list<int> calls) {
        for (int call : calls) Add(SCMP_ACT_ALLOW, call);
    }
    void Refuse(int error, std::initializer_list<int> calls) {
        for (int call : calls) Add(SCMP_ACT_ERRNO(static_cast<std::uint32_t>(error)), call);
    }
    template <typename... Conditions>
    void Add(std::uint32_t action, int call, Conditions... conditions) {
        if (context_ == nullptr) return;
        const scmp_arg_cmp list[] = {conditions..., {}};
        if (seccomp_rule_add_array(context_, action, call, sizeof...(conditions), list) != 0) {
            ok_ = false;
        }
    }
    void Fail() { ok_ = false; }
    bool Load() { return Valid() && seccomp_load(context_) == 0; }

private:
    scmp_filter_ctx context_;
    bool ok_ = true;
};

// A comparison of the call's first argument, with every field given
// (libseccomp's SCMP_A0 to SCMP_A5 leave the second datum out).
scmp_arg_cmp FirstArgument(scmp_compare comparison, scmp_datum_t value) {
    return {0, comparison, value, 0};
}

// The same of the third argument; for SCMP_CMP_MASKED_EQ, `value` is the
// mask and `masked` what the masked argument must be.
scmp_arg_cmp ThirdArgument(scmp_compare comparison, scmp_datum_t value, scmp_datum_t masked = 0) {
    return {2, comparison, value, masked};
}

// Advice that bears on the reader's own pages alone: glibc's malloc gives
// back freed memory (DONTNEED, FREE) and may ask for huge pages; the
// sanitizers keep their shadow out of huge pages and core dumps.
constexpr int kOwnPagesAdvice[] = {MADV_NORMAL,   MADV_RANDOM, MADV_SEQUENTIAL, MADV_WILLNEED,
                                   MADV_DONTNEED, MADV_FREE,   MADV_HUGEPAGE,   MADV_NOHUGEPAGE,
                                   MADV_DONTDUMP, MADV_DODUMP};

// Any other advice fails with EPERM rather than ending the reader: advice is
// a hint that callers go on without, and a library's harmless choice must
// not become a wrong "no GPS". Refused among them: poisoning or offlining
// pages (HWPOISON, SOFT_OFFLINE: the machine's memory), merging them with
// other processes' (MERGEABLE: a side channel), pushing the page cache that
// other processes share out (PAGEOUT, COLD), freeing shared backing
// (REMOVE), and what only a process that forks needs.
void AllowOwnPagesAdvice(Filter& filter) {
    constexpr int kHighestAllowed = MADV_DODUMP;
    bool allowed[kHighestAllowed + 1] = {};
    for (const int advice : kOwnPagesAdvice) allowed[advice] = true;
    // One rule per advice value: a rule compares an argument only once.
    for (int advice = 0; advice <= kHighestAllowed; ++advice) {
        const std::uint32_t action = allowed[advice] ? SCMP_ACT_ALLOW : SCMP_ACT_ERRNO(EPERM);
        filter.Add(action, SCMP_SYS(madvise),
                   ThirdArgument(SCMP_CMP_EQ, static_cast<scmp_datum_t>(advice)));
    }
    // Above, and negative values, which the comparison sees as very large.
    filter.Add(SCMP_ACT_ERRNO(EPERM), SCMP_SYS(madvise),
               ThirdArgument(SCMP_CMP_GT, static_cast<scmp_datum_t>(kHighestAllowed)));
}

void AllowMemory(Filter& filter) {
    filter.Allow({SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap)});
    AllowOwnPagesAdvice(filter);
    // No page of the reader's ever becomes executable.
    filter.Add(SCMP_ACT_ALLOW, SCMP_SYS(mmap), ThirdArgument(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    filter.Add(SCMP_ACT_ALLOW, SCMP_SYS(mprotect), ThirdArgument(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
}

void AllowResult(Filter& filter, int resultDescriptor) {
    const auto result = static_cast<scmp_datum_t>(resultDescriptor);
    const std::uint32_t refused = SCMP_ACT_ERRNO(EPERM);
    filter.Add(SCMP_ACT_ALLOW, SCMP_SYS(write), FirstArgument(SCMP_CMP_EQ, result));
    if (!kSanitizerReports) {
        filter.Add(refused, SCMP_SYS(write), FirstArgument(SCMP_CMP_NE, result));
    } else {
        // The sanitizers report on stderr. A rule compares an argument only
        // once, so "neither stderr nor the result" is spelled out in ranges.
        if (resultDescriptor <= STDERR_FILENO) filter.Fail();
        filter.Add(SCMP_ACT_ALLOW, SCMP_SYS(write), FirstArgument(SCMP_CMP_EQ, STDERR_FILENO));
        filter.Add(refused, SCMP_SYS(write), FirstArgument(SCMP_CMP_LT, STDERR_FILENO));
        for (int between = STDERR_FILENO + 1; between < resultDescriptor; ++between) {
            filter.Add(refused, SCMP_SYS(write),
                       FirstArgument(SCMP_CMP_EQ, static_cast<scmp_datum_t>(between)));
        }
        filter.Add(refused, SCMP_SYS(write), FirstArgument(SCMP_CMP_GT, result));
    }
    filter.Refuse(EPERM, {SCMP_SYS(writev), SCMP_SYS(pwrite64), SCMP_SYS(pwritev)});
}

// The picture is read with pread at offsets of the reader's choosing, so
// no other read call is needed; the advice is about its page cache.
void AllowPicture(Filter& filter, int pictureDescriptor) {
    const auto picture = static_cast<scmp_datum_t>(pictureDescriptor);
    filter.Add(SCMP_ACT_ALLOW, SCMP_SYS(pread64), FirstArgument(SCMP_CMP_EQ, picture));
    filter.Add(SCMP_ACT_ALLOW, SCMP_SYS(fadvise64), FirstArgument(SCMP_CMP_EQ, picture));
}

void AllowProcessBasics(Filter& filter) {
    filter.Allow({SCMP_SYS(futex), SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(clock_gettime),
                  SCMP_SYS(gettimeofday), SCMP_SYS(getpid), SCMP_SYS(gettid),
                  SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigreturn),
                  SCMP_SYS(sigaltstack), SCMP_SYS(sched_yield), SCMP_SYS(getrandom), SCMP_SYS(exit),
                  SCMP_SYS(exit_group)});
    // abort() and raise() signal the calling thread; nobody else.
    const auto self = static_cast<scmp_datum_t>(getpid());
    filter.Add(SCMP_ACT_ALLOW, SCMP_SYS(tgkill), FirstArgument(SCMP_CMP_EQ, self));
}

// The fstat call above takes a descriptor only. newfstatat and statx also
// take a name, which seccomp cannot read, and with a name the kernel ignores
// AT_EMPTY_PATH: fstatat(AT_FDCWD, "/etc/shadow", &status, AT_EMPTY_PATH)
// stats that file. So both are refused whatever their flags. glibc 2.33 on
// implements fstat() itself as newfstatat(fd, "", AT_EMPTY_PATH), which
// therefore fails here too: the reader stats its picture before the filter,
// and what needs a descriptor's status afterwards makes the fstat call.
void RefuseNames(Filter& filter) {
    filter.Refuse(EACCES, {SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(openat2), SCMP_SYS(creat),
                           SCMP_SYS(stat), SCMP_SYS(lstat), SCMP_SYS(newfstatat), SCMP_SYS(statx),
                           SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2),
                           SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(getcwd)});
}

}  // namespace

bool ConfineToReading(int pictureDescriptor, int resultDescriptor) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    Filter filter;
    AllowMemory(filter);
    AllowPicture(filter, pictureDescriptor);
    AllowResult(filter, resultDescriptor);
    AllowProcessBasics(filter);
    RefuseNames(filter);
    return filter.Load();
}

}  // namespace host
