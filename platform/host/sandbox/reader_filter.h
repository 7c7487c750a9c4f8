// The system calls left to the reader process once it parses a picture.
#pragma once

namespace host {

// Sets no-new-privileges and loads a seccomp filter that leaves the calling
// process what parsing memory and handing back a result need:
//   allowed   memory (brk, mmap/mprotect without PROT_EXEC, munmap, mremap,
//             madvise with advice on the caller's own pages only), futex,
//             pread and fadvise of `pictureDescriptor` only, write to
//             `resultDescriptor` only, close, the fstat call (a descriptor,
//             no name), clocks, getrandom (hash seeds), signal masks,
//             handlers and stacks, signals to itself (abort), exit;
//   refused with EACCES (so that libraries that load something lazily, such
//             as iconv modules, translations or locale data, fail the way
//             they do on a missing file): opening and stat-ing by name,
//             any newfstatat and statx (which glibc's fstat() uses: seccomp
//             cannot see whether they name a file), getcwd (exiv2 looks for
//             its own files on some error paths);
//   refused with EPERM: writing to any other descriptor, any other madvise;
//   the end of the process (SIGSYS): every other call, among them execve,
//             fork/clone, sockets, ptrace, kill, ioctl, and calls of another
//             architecture.
// Sanitizer builds also may write to stderr (descriptor 2), for their
// reports; there `resultDescriptor` must be above 2.
// False when the filter could not be loaded.
bool ConfineToReading(int pictureDescriptor, int resultDescriptor);

}  // namespace host
