// One set of worker threads for every picture the process draws: the bands
// of a large PNG, the tiles of a pyramid. The threads start on first use,
// with 1 MiB stacks, and wait for work between jobs instead of ending. The
// thread that hands out a job works on it too, so a job finishes even when
// no thread could be started (under a tight memory limit, say) or every one
// is busy with another job; jobs may be handed out from inside a job.
#ifndef TARVEN_WORKQUEUE_H
#define TARVEN_WORKQUEUE_H

#include <functional>

namespace work {

// Runs task(item, runner) for every item 0..count-1, in order of item as
// they are taken, on the calling thread and on up to `helpers` of the
// shared threads (-1: as many as there are), and returns when all are done.
// `runner` is 0 on the calling thread and 1..helpers on the others: no two
// runners of one job share a number, so a job can keep one scratch buffer
// per runner. An exception from a task stops the handing out of items; it
// is passed on once the items under way are done.
void run(long long count, int helpers, const std::function<void(long long item, int runner)>& task);

// The shared threads there are or can be: at most one per core, at most 8.
int threadCount();

}  // namespace work

#endif
