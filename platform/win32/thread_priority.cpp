// Windows only: a worker's priority is its thread's.
#include "platform/thread_priority.h"

#include <windows.h>

namespace pw {

void SetWorkerPriority(WorkerPriority priority) {
  SetThreadPriority(GetCurrentThread(), priority == WorkerPriority::Send ? THREAD_PRIORITY_HIGHEST
                                                                          : THREAD_PRIORITY_ABOVE_NORMAL);
}

}  // namespace pw
