#pragma once

namespace brasko {

// Called first thing in main by both programs, before any secret is read:
// - no core dump is ever written (RLIMIT_CORE 0) and the process is not dumpable, so neither a crash nor
//   another process of the same user (ptrace, /proc/<pid>/mem) can get at the password or the key;
// - SIGXFSZ is ignored, so that an exceeded file-size limit makes the write fail with EFBIG, which fails
//   that file like any other write error instead of killing the program.
// Each step is best effort: a refusal is not an error.
void HardenProcess();

} // namespace brasko
