// Progress of long work on standard error, for the command-line tools.
#ifndef TARVEN_PROGRESS_H
#define TARVEN_PROGRESS_H

#include <chrono>
#include <string>

namespace tools {

// Progress of long work on standard error: shown only when standard error
// is a terminal, not quiet, and the work has run for more than a second;
// percent, elapsed and time left, updated in place at most a few times a second.
class Progress {
public:
    Progress(std::string what, bool quiet);
    ~Progress();              // clears the line if anything was shown
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void update(double fraction);   // 0..1; cheap enough to call per band
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    std::string what;
    bool enabled;
    Clock::time_point start, lastShown;
    std::size_t shownLength = 0;   // 0: nothing on the line
};

}  // namespace tools

#endif
