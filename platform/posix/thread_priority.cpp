// POSIX only: workers keep the normal priority (raising it needs privileges).
#include "platform/thread_priority.h"

namespace pw {

void SetWorkerPriority(WorkerPriority) {}

}  // namespace pw
