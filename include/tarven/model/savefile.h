// The one way Tarven replaces a file, for the window's save and every
// tool's output: written through a temporary file beside its target and
// renamed over it only when complete, so that a failure at any point (a
// full disk, a file size limit, a signal) leaves the old file as it was.
//
// The policy: symbolic links are followed to the file they name, which is
// replaced while the links stay; the temporary file is created afresh
// (never through a link planted in its place). Only a regular file is
// replaced: a folder, device or pipe is refused, as is a file the user may
// not write, and a file with no write permission for anyone, which was
// protected on purpose and is kept even from a user whom permissions do
// not bind. The new file keeps the old one's permission bits (and, where
// allowed, its owner); a new file gets 0666 less the umask.
#ifndef TARVEN_SAVEFILE_H
#define TARVEN_SAVEFILE_H

#include <cstddef>
#include <string>

class SaveFile {
public:
    SaveFile() = default;
    // Removes the temporary file unless it was committed.
    ~SaveFile();
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    // Opens the temporary file for `path`. False with the reason: "it is a
    // folder", "it is read-only", "it is not a regular file", "too many
    // levels of symbolic links" or the system's text.
    bool open(const std::string& path, std::string& why);
    // The temporary file; -1 when not open.
    int fd() const { return fd_; }
    // Writes everything, or false with the reason.
    bool write(const char* data, std::size_t size, std::string& why);

    // The three steps of commit(), for callers that write through a stdio
    // stream on fd(): settle() gives the file its mode and owner and makes
    // it durable (on failure the caller closes and discards); closed() says
    // that the caller closed fd(); replace() renames it over the target,
    // the temporary file gone on failure. Each false with the reason.
    bool settle(std::string& why);
    void closed() { fd_ = -1; }
    bool replace(std::string& why);
    // settle(), close and replace().
    bool commit(std::string& why);
    // Removes the temporary file; the target is untouched.
    void discard();
    // For tools that write many files and make them durable together at
    // the end (syncfs): the file and its folder are not synced one by one.
    void deferSync() { sync_ = false; }

private:
    bool fail(int error, std::string& why);

    std::string name_;       // the target's name in its folder
    std::string tempName_;   // the temporary file's name there
    int dirFd_ = -1;
    int fd_ = -1;
    int slot_ = -1;          // its entry among the files removeTemporaries() removes
    bool exists_ = false;    // the target existed when opened
    unsigned mode_ = 0, owner_ = 0, group_ = 0;
    bool sync_ = true;
};

// Why the existing file `path` may not be replaced, or "" when it may or
// does not exist; links followed.
std::string replaceRefusal(const std::string& path);

// Removes the temporary file of every SaveFile still open. Async-signal-
// safe: for a signal handler, or a program that must end at once.
void removeTemporaries();

#endif
