// Starting the library's long-running threads: the platform's default stack, no argument, and the
// handle neither kept nor closed (nothing ever waits for or stops one of them).
#pragma once

namespace pathlight {

// A thread body. Whatever it throws ends the thread quietly: nothing may leave a thread body.
using ThreadBody = void (*)();

enum class StartFailure { Log, Silent };

// Starts `body` on a new thread; false when the system refused. A refusal is logged as
// "Init: could not start the <name> thread (error <code>)" unless `failure` is Silent (the DLL
// entry point, which runs under the loader lock before the log exists).
bool StartThread(const char* name, ThreadBody body, StartFailure failure = StartFailure::Log);

}  // namespace pathlight
