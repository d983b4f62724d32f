// Output files of the tools: what may be replaced, how the replacement
// keeps the old file's mode and links, what a failure or a signal leaves,
// and the progress line on a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "outputfile.h"
#include "progress.h"
#include "tempdir.h"

namespace {

using Folder = tarventest::TempDir;

void put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string get(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned modeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

// Each row prepares a folder, writes "new" to `target` and commits; the
// folder must then hold exactly `after`, no temporary file among them.
TEST(OutputFile, ReplacesOnlyWhatItMay) {
    const std::string longName = std::string(251, 'n') + ".png";   // 255 bytes
    const std::string longUtf8 = std::string(246, 'u') + "\xe2\x82\xac\xc3\xa9.png";   // 255 bytes
    struct Row {
        const char* name;
        std::function<void(const Folder&)> prepare;
        std::string target;
        bool written;
        const char* says;   // in the error when not written
        std::vector<std::string> after;
        std::string changed;   // the file that holds "new" afterwards
        unsigned mode;         // its permission bits
    };
    const mode_t mask = ::umask(022);
    const Row rows[] = {
        {"a new file gets 0666 less the umask", [](const Folder&) {}, "a.png", true, "", {"a.png"}, "a.png", 0644},
        {"an existing file keeps its mode",
         [](const Folder& f) {
             put(f / "a.png", "old");
             ::chmod((f / "a.png").c_str(), 0600);
         },
         "a.png", true, "", {"a.png"}, "a.png", 0600},
        {"through a link the file it points to is replaced and the link kept",
         [](const Folder& f) {
             put(f / "real.png", "old");
             ::symlink("real.png", (f / "link.png").c_str());
         },
         "link.png", true, "", {"link.png", "real.png"}, "real.png", 0644},
        {"a name of 255 bytes", [](const Folder&) {}, longName, true, "", {longName}, longName, 0644},
        {"a name of 255 bytes cut inside a character", [](const Folder&) {}, longUtf8, true, "", {longUtf8},
         longUtf8, 0644},
        {"a read-only file is kept",
         [](const Folder& f) {
             put(f / "ro.png", "old");
             ::chmod((f / "ro.png").c_str(), 0444);
         },
         "ro.png", false, "cannot write '", {"ro.png"}, "", 0},
        {"a folder is kept", [](const Folder& f) { ::mkdir((f / "d.png").c_str(), 0755); }, "d.png", false,
         "it is a folder", {"d.png"}, "", 0},
        {"a pipe is kept", [](const Folder& f) { ::mkfifo((f / "p.png").c_str(), 0600); }, "p.png", false,
         "not a regular file", {"p.png"}, "", 0},
        {"a loop of links", [](const Folder& f) { ::symlink("loop.png", (f / "loop.png").c_str()); }, "loop.png",
         false, "symbolic links", {"loop.png"}, "", 0},
        {"a missing folder", [](const Folder&) {}, "none/a.png", false, "No such file", {}, "", 0},
    };
    for (const Row& row : rows) {
        Folder f;
        row.prepare(f);
        tools::OutputFile out;
        std::string error;
        bool ok = out.open(f / row.target, error);
        if (ok) {
            EXPECT_EQ(std::fputs("new", out.stream()) >= 0, true) << row.name;
            ok = out.commit(error);
        }
        EXPECT_EQ(ok, row.written) << row.name << ": " << error;
        if (!row.written) {
            EXPECT_NE(error.find(row.says), std::string::npos) << row.name << ": " << error;
            EXPECT_NE(error.find("'" + f / row.target + "'"), std::string::npos) << row.name << ": " << error;
        }
        EXPECT_EQ(f.entries(), row.after) << row.name;
        if (!row.changed.empty()) {
            EXPECT_EQ(get(f / row.changed), "new") << row.name;
            EXPECT_EQ(modeOf(f / row.changed), row.mode) << row.name;
        }
        if (row.target == "ro.png") {
            EXPECT_EQ(get(f / "ro.png"), "old");
        }
    }
    ::umask(mask);
}

TEST(OutputFile, DiscardedOrDestroyedLeavesTheOldFile) {
    Folder f;
    put(f / "a.png", "old");
    for (bool explicitly : {true, false}) {
        tools::OutputFile out;
        std::string error;
        ASSERT_TRUE(out.open(f / "a.png", error)) << error;
        std::fputs("new", out.stream());
        EXPECT_EQ(f.entries().size(), 2u);   // the temporary file beside it
        if (explicitly) out.discard();
    }
    EXPECT_EQ(f.entries(), std::vector<std::string>{"a.png"});
    EXPECT_EQ(get(f / "a.png"), "old");
}

TEST(OutputFile, CheckRefusesInputsAndProtectedFiles) {
    Folder f;
    put(f / "in.map", "map");
    put(f / "other.map", "map");
    put(f / "ro.png", "old");
    ::chmod((f / "ro.png").c_str(), 0444);
    ::symlink("in.map", (f / "soft.png").c_str());
    ::link((f / "in.map").c_str(), (f / "hard.png").c_str());
    ::mkdir((f / "dir.png").c_str(), 0755);
    struct Row {
        const char* name;
        std::string output;
        bool allowed;
        const char* says;
    };
    const Row rows[] = {
        {"a new file", f / "new.png", true, ""},
        {"another existing file", f / "other.map", true, ""},
        {"the input itself", f / "in.map", false, "it is the input '"},
        {"the input by another path", f.path + "/../" + f.path.substr(5) + "/in.map", false, "it is the input"},
        {"a symbolic link to the input", f / "soft.png", false, "it is the input"},
        {"a hard link to the input", f / "hard.png", false, "it is the input"},
        {"a read-only file", f / "ro.png", false, "read-only"},
        {"a folder", f / "dir.png", false, "it is a folder"},
        {"a device", "/dev/null", false, "not a regular file"},
        {"below a file", f / "in.map/x.png", false, "Not a directory"},
    };
    for (const Row& row : rows) {
        std::string error;
        EXPECT_EQ(tools::checkOutput(row.output, {f / "other-input.map", f / "in.map"}, error), row.allowed)
            << row.name;
        if (!row.allowed) {
            EXPECT_NE(error.find(row.says), std::string::npos) << row.name << ": " << error;
            EXPECT_EQ(error.find("cannot write '" + row.output + "'"), 0u) << row.name << ": " << error;
        }
    }
}

TEST(OutputFile, ExtensionOf) {
    const struct {
        const char* path;
        const char* extension;
    } rows[] = {
        {"a.png", "png"}, {"A.PnG", "png"}, {"a.tar.gz", "gz"}, {"noext", ""},   {"dir.d/noext", ""},
        {".png", ""},     {"d/.png", ""},   {"a.", ""},         {"d.x/a.SVG", "svg"},
    };
    for (const auto& row : rows) EXPECT_EQ(tools::extensionOf(row.path), row.extension) << row.path;
}

// A child process writes an output file and is stopped by a signal part-way:
// it exits with 128 + the signal's number and its temporary file is gone.
TEST(OutputFile, SignalsRemoveTheTemporaryFile) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        Folder f;
        put(f / "a.png", "old");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            tools::installSignalCleanup();
            tools::OutputFile first, second;
            std::string error;
            if (!first.open(f / "a.png", error) || !second.open(f / "b.png", error)) ::_exit(99);
            std::fputs("new", first.stream());
            std::fflush(first.stream());
            ::kill(::getpid(), signal);
            ::pause();
            ::_exit(98);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << strsignal(signal);
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal) << strsignal(signal);
        EXPECT_EQ(f.entries(), std::vector<std::string>{"a.png"}) << strsignal(signal);
        EXPECT_EQ(get(f / "a.png"), "old");
    }
}

// Standard error of a child goes to a terminal (a pseudo-terminal here) or
// a pipe; what the child's progress shows is read back.
TEST(Progress, ShownOnATerminalAfterASecondUnlessQuiet) {
    struct Row {
        const char* name;
        bool terminal, quiet, longWork;
        bool shown;
    };
    const Row rows[] = {
        {"long work on a terminal", true, false, true, true},
        {"quiet", true, true, true, false},
        {"not a terminal", false, false, true, false},
        {"short work", true, false, false, false},
    };
    for (const Row& row : rows) {
        int master = -1, slave = -1, pipeEnds[2] = {-1, -1};
        if (row.terminal) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY);
            ASSERT_GE(master, 0);
            ASSERT_EQ(::grantpt(master), 0);
            ASSERT_EQ(::unlockpt(master), 0);
            slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
            ASSERT_GE(slave, 0);
        } else {
            ASSERT_EQ(::pipe(pipeEnds), 0);
            master = pipeEnds[0];
            slave = pipeEnds[1];
        }
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(slave, 2);
            {
                tools::Progress progress("Drawing", row.quiet);
                progress.update(0);
                if (row.longWork) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
                progress.update(0.25);
                progress.update(0.5);   // too soon after the last: not shown
            }
            ::_exit(0);
        }
        ::close(slave);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        std::string shown;
        char buffer[512];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) break;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            shown.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(master);
        if (!row.shown) {
            EXPECT_EQ(shown, "") << row.name;
            continue;
        }
        EXPECT_NE(shown.find("\rDrawing: 25%, 0:01 elapsed, 0:03 left"), std::string::npos) << row.name << ": " << shown;
        EXPECT_EQ(shown.find("50%"), std::string::npos) << row.name << ": " << shown;
        // The line is blanked at the end, the cursor back at its start.
        const std::size_t last = shown.rfind('\r');
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(shown.substr(last), "\r") << row.name;
        EXPECT_EQ(shown.find_first_not_of(' ', shown.rfind('\r', last - 1) + 1), last) << row.name;
    }
}
