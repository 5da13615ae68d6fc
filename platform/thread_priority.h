// The priority of a transfer's worker thread: a send runs at the highest
// priority, a receive one step above normal. On Windows that is the thread's
// priority; on Linux threads keep the normal one, which a program without
// privileges cannot raise.
#pragma once

namespace pw {

enum class WorkerPriority { Send, Receive };

/// Sets the calling thread's priority for a worker of that kind.
void SetWorkerPriority(WorkerPriority priority);

}  // namespace pw
