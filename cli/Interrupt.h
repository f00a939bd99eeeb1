#pragma once

namespace brasko::cli {

// Turns Ctrl-C (SIGINT), SIGTERM, SIGHUP and Ctrl-\ (SIGQUIT) into a request to stop that the batch asks for
// between chunks, so that the file being decrypted is abandoned cleanly: no temporary file is left behind and
// the output keeps what it held. A read that waits for its file is interrupted. A second signal ends the
// program at once, as usual.
void CatchInterrupts();

// The signal that asked to stop, or 0.
int InterruptSignal();

} // namespace brasko::cli
