#include "progress.h"

#include <cerrno>
#include <cmath>
#include <cstdio>

#include <unistd.h>

namespace tools {

namespace {

constexpr auto kDelay = std::chrono::seconds(1);
constexpr auto kInterval = std::chrono::milliseconds(250);

// Straight to the file descriptor: the line is rewritten in place, and a
// failed write (a terminal gone away) must not stop the work.
void writeAll(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// "m:ss" or "h:mm:ss" for a number of seconds.
std::string clockTime(double seconds) {
    if (!(seconds >= 0)) seconds = 0;
    if (seconds > 359999) seconds = 359999;   // 99:59:59
    const long total = std::lround(seconds);
    char text[32];
    if (total >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

}  // namespace

Progress::Progress(std::string whatText, bool quiet)
    : what(std::move(whatText)), enabled(!quiet && ::isatty(STDERR_FILENO) == 1), start(Clock::now()) {}

Progress::~Progress() { finish(); }

void Progress::update(double fraction) {
    if (!enabled) return;
    const Clock::time_point now = Clock::now();
    if (now - start < kDelay || (shownLength > 0 && now - lastShown < kInterval)) return;
    lastShown = now;
    if (!(fraction >= 0)) fraction = 0;
    if (fraction > 1) fraction = 1;
    const double elapsed = std::chrono::duration<double>(now - start).count();
    std::string line = what + ": " + std::to_string(static_cast<int>(fraction * 100)) + "%, " +
                       clockTime(elapsed) + " elapsed, ";
    line += fraction > 0 ? clockTime(elapsed * (1 - fraction) / fraction) + " left" : std::string("time left unknown");
    // Blanks over whatever is left of a longer line before.
    const std::size_t length = line.size();
    if (length < shownLength) line.append(shownLength - length, ' ');
    writeAll("\r" + line);
    shownLength = length;
}

void Progress::finish() {
    if (shownLength > 0) writeAll("\r" + std::string(shownLength, ' ') + "\r");
    shownLength = 0;
    enabled = false;
}

}  // namespace tools
