// How the saver's process meets its surroundings: the signals that ask it to
// stop, standard descriptors that may be closed, and a display that may go
// away while it runs.
//
// SIGTERM and SIGINT only raise a flag; the message loop sees it and closes
// the saver window the ordinary way, so a stopped run ends like a closed one
// (settings written back, exit status 0), whenever the signal came: during
// start-up the request waits for the loop, during shutdown it changes
// nothing. Nothing else runs in the handler.
#pragma once

namespace platform {

// First thing in main: reopens any of the standard descriptors 0, 1 and 2
// that is closed on /dev/null (so that no file or socket the program opens
// later takes its number and receives what is meant for the terminal);
// ignores SIGHUP and SIGPIPE; SIGTERM and SIGINT request a stop; a lost
// connection to the X display ends the process (see below), and so does a
// crash (SIGSEGV, SIGBUS) while the local X server is gone: the OpenGL
// driver can crash on a server that died during its set-up before Xlib
// notices. Any other crash is left to the handler that was there before.
void PrepareProcess();

// True once SIGTERM or SIGINT arrived.
bool StopRequested();

// For a part of the program that does not watch the flag (the settings
// dialog): SIGTERM and SIGINT take their default action again, and a stop
// that was already requested ends the process now, as the signal would have.
void RestoreDefaultStopSignals();

// The X display connection broke (the server ended or the socket closed):
// nothing can be drawn or shown any more, and the libraries' own shutdown
// would talk to the dead connection. Writes one line on standard error and
// ends the process at once with status 1, without running exit handlers.
[[noreturn]] void DisplayConnectionLost();

// Test hook: clears the stop flag.
void ClearStopRequestForTesting();

}  // namespace platform
