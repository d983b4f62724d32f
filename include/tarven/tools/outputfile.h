// Files written by the command-line tools: never over one of their inputs
// or a protected file, always through a temporary file beside the target
// that is renamed over it only when complete, and never left behind by a
// failure or a signal.
#ifndef TARVEN_OUTPUTFILE_H
#define TARVEN_OUTPUTFILE_H

#include <cstdio>
#include <string>
#include <vector>

#include "savefile.h"

namespace tools {

// For tools that write files: ignores SIGXFSZ (a write past the file-size
// limit then fails with EFBIG), and on SIGINT, SIGTERM and SIGHUP removes
// every temporary file of an OutputFile still open and exits with 128 + the
// signal's number; the same for the temporary file of any SaveFile, the
// map saves among them. Call once at the start of main() (async-signal-safe
// handler).
void installSignalCleanup();

// For a tool that must undo work of its own when it is ended (a folder it
// builds): while a StopOnSignal lives, SIGINT, SIGTERM and SIGHUP no longer
// end the program at once but ask it to stop. The tool checks signal()
// between steps (any thread may), undoes its work, leaves, and exits with
// 128 + that number. Only the first signal counts; later ones are ignored
// while the stop is under way. The handler then removes no temporary file
// of a SaveFile: the tool's own unwinding does. Without
// installSignalCleanup() (a tool run inside a test) it changes nothing.
class StopOnSignal {
public:
    StopOnSignal();
    // Signals end the program at once again, unless one has come.
    ~StopOnSignal() { release(); }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;

    // The signal that asked to stop, 0 while none has. Async-signal-safe.
    int signal() const;
    // From here on a signal ends the program at once, as before; the signal
    // that came before that, or 0. One that comes during the call is either
    // returned or ends the program: none is lost.
    int release();

private:
    bool active = true;
};

// Refuses, before any work, an output that is one of the inputs (same device
// and inode, links followed), an existing output that is not a regular file,
// and an existing output the user may not write. False with a message that
// quotes the file name.
bool checkOutput(const std::string& output, const std::vector<std::string>& inputs, std::string& error);

// One output file written through a stdio stream on a SaveFile
// (savefile.h): a temporary file beside its target (symbolic links
// followed), renamed over it by commit(). The destructor or discard()
// removes the temporary file if it was not committed.
class OutputFile {
public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool open(const std::string& path, std::string& error);
    std::FILE* stream();     // buffered stream on the temporary file
    int fd() const;
    bool commit(std::string& error);   // flush, keep the old file's mode (or 0666 & ~umask), fsync, close, rename
    // All that commit() does but the rename, for several files that must
    // all be complete before any of them replaces its target: commit()
    // then only renames. The temporary file stays until then (and is still
    // removed by discard() or a signal).
    bool finish(std::string& error);
    void discard();
    // For tools that write many files and make them durable together at the
    // end (syncfs): commit() then skips the fsync of the file and its folder.
    void deferSync() { save.deferSync(); }

private:
    std::string path;        // as the caller named it, for messages
    SaveFile save;
    std::FILE* file = nullptr;
};

// Extensions: lower-case extension of a path without the dot ("" if none).
std::string extensionOf(const std::string& path);

}  // namespace tools

#endif
