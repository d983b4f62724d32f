// Failed loads and saves through the window's commands, with real failures:
// the window keeps its map and title, the old file stays as it was, and the
// program goes on.
#include <algorithm>
#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "filemessage.h"
#include "harness.h"
#include "mapwindow.h"
#include "tarven.h"

namespace fs = std::filesystem;

namespace {

const std::string kOld = "2 3\n.0#1=2\n~0~1^9\n";

using Window = MapWindow;

// The cells, size and zoom of a window's view, with its title.
std::string state(const Window& w) {
    const WrappedHxMapView* v = w.frame->hxmv;
    std::string s = w.frame->GetTitle().ToStdString() + "|" + std::to_string(v->xs()) + "x" +
                    std::to_string(v->ys()) + "|" + std::to_string(v->zoom) + "|";
    for (int y = 0; y < v->ys(); ++y)
        for (int x = 0; x < v->xs(); ++x) {
            s += v->t(x, y);
            s += v->e(x, y);
        }
    return s;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> r;
    for (const auto& e : fs::directory_iterator(dir)) r.push_back(e.path().filename().string());
    std::sort(r.begin(), r.end());
    return r;
}

// Runs Save map with the given path chosen and returns the message shown.
std::string saveThroughMenu(Window& w, const std::string& path) {
    wxString message;
    testing::internal::CaptureStdout();
    wxTEST_DIALOG(w.command(ID_SAVE_MAP), ExpectFile(path), ExpectMessage(&message));
    testing::internal::GetCapturedStdout();
    return message.ToStdString();
}

// A window that has loaded the old file and been painted on since.
void loadAndEdit(Window& w, const std::string& file) {
    wxTEST_DIALOG(w.command(ID_LOAD_MAP), ExpectFile(file));
    ASSERT_EQ(w.frame->hxmv->xs(), 3);
    w.frame->hxmv->resize(200, 150, true);
    w.frame->hxmv->st(10, 20, '#');
    w.frame->hxmv->se(10, 20, 7);
}

// Lowers this process's file size limit (soft limit only, so that it can
// be raised again) with SIGXFSZ ignored, so that writes past it fail.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lim = saved_;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit saved_{};
    sighandler_t oldHandler_ = SIG_DFL;
};

// Picks a path like ExpectFile, then, for the save that follows, takes the
// file access rights of "nobody" when running as root (given back by
// Restore, or at the latest by the destructor).
class ExpectFileAsNobody : public ExpectFile {
public:
    ExpectFileAsNobody(const wxString& path, uid_t uid, gid_t gid) : ExpectFile(path), uid_(uid), gid_(gid) {}

protected:
    int OnInvoked(wxFileDialog* dlg) const override {
        const int r = ExpectFile::OnInvoked(dlg);
        if (geteuid() == 0 && setegid(gid_) == 0) {
            if (seteuid(uid_) == 0) dropped_ = true;
            else if (setegid(0) != 0) std::abort();
        }
        return r;
    }

public:
    bool dropped() const { return dropped_; }
    void restore() const {
        if (dropped_) {
            if (seteuid(0) != 0 || setegid(0) != 0) std::abort();   // cannot go on as someone else
            dropped_ = false;
        }
    }
    ~ExpectFileAsNobody() override { restore(); }

private:
    uid_t uid_;
    gid_t gid_;
    mutable bool dropped_ = false;
};

}  // namespace

TEST(Reliability, SaveFailingPartWayKeepsTheOldFileTheMapAndTheTitle) {
    TempDir dir;
    const std::string target = dir.path("old.map");
    writeFile(target, kOld);
    Window w;
    loadAndEdit(w, target);
    const std::string before = state(w);

    std::string message;
    {
        // The header fits, the 60 KB of rows do not.
        FileSizeLimit limit(4096);
        message = saveThroughMenu(w, target);
    }
    EXPECT_EQ(message, "Error writing file " + target + " : the map was not saved!");
    EXPECT_EQ(readFile(target), kOld);
    EXPECT_EQ(entries(dir.dir()), std::vector<std::string>{"old.map"});
    EXPECT_EQ(state(w), before);
    EXPECT_EQ(w.frame->GetTitle(), "Tarven - " + target);

    // Without the limit the same command succeeds.
    wxTEST_DIALOG(w.command(ID_SAVE_MAP), ExpectFile(target));
    EXPECT_EQ(readFile(target).size(), std::string("150 200\n").size() + 150u * 401u);
    EXPECT_EQ(entries(dir.dir()), std::vector<std::string>{"old.map"});
}

TEST(Reliability, SaveIntoAFolderWithoutWritePermission) {
    TempDir dir;
    const std::string target = dir.path("old.map");
    writeFile(target, kOld);
    Window w;
    loadAndEdit(w, target);
    const std::string before = state(w);

    chmod(dir.dir().c_str(), 0555);
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() == 0 && !nobody) {
        chmod(dir.dir().c_str(), 0755);
        GTEST_SKIP() << "running as root and there is no user \"nobody\" to drop to";
    }
    wxString message;
    bool dropped = false;
    {
        ExpectFileAsNobody pick(target, nobody ? nobody->pw_uid : 0, nobody ? nobody->pw_gid : 0);
        testing::internal::CaptureStdout();
        wxTEST_DIALOG(w.command(ID_SAVE_MAP), pick, ExpectMessage(&message));
        dropped = pick.dropped();
        pick.restore();
        testing::internal::GetCapturedStdout();
    }
    chmod(dir.dir().c_str(), 0755);
    ASSERT_EQ(geteuid(), getuid()) << "privileges were not given back";
    if (geteuid() == 0 && !dropped) GTEST_SKIP() << "running as root and could not act as \"nobody\"";
    EXPECT_EQ(message, "Unable to open the map file!");
    EXPECT_EQ(readFile(target), kOld);
    EXPECT_EQ(entries(dir.dir()), std::vector<std::string>{"old.map"});
    EXPECT_EQ(state(w), before);
}

TEST(Reliability, SaveThroughASymbolicLinkReplacesTheLinkedFile) {
    TempDir dir;
    fs::create_directory(dir.path("real"));
    writeFile(dir.path("real/a.map"), kOld);
    fs::create_symlink("real/a.map", dir.path("link.map"));
    Window w;
    w.frame->hxmv->resize(1, 1, true);
    w.frame->hxmv->st(0, 0, '^');
    w.frame->hxmv->se(0, 0, 3);
    wxTEST_DIALOG(w.command(ID_SAVE_MAP), ExpectFile(dir.path("link.map")));
    EXPECT_TRUE(fs::is_symlink(dir.path("link.map")));
    EXPECT_EQ(fs::read_symlink(dir.path("link.map")), "real/a.map");
    EXPECT_EQ(readFile(dir.path("real/a.map")), "1 1\n^3\n");
    EXPECT_EQ(entries(dir.dir()), (std::vector<std::string>{"link.map", "real"}));
    EXPECT_EQ(entries(dir.path("real")), std::vector<std::string>{"a.map"});
    EXPECT_EQ(w.frame->GetTitle(), "Tarven - " + dir.path("link.map"));
}

// Each broken file, loaded in one of two windows, shows its message there;
// both windows keep their maps and titles, and the next good load works.
TEST(Reliability, BrokenFilesLoadedInOneOfTwoWindowsChangeNeitherWindow) {
    struct Case {
        const char* label;
        std::string content;
        const char* message;   // the part after "Error reading file <path> : "
    };
    const Case cases[] = {
        {"binary", std::string("\x7f" "ELF\x02\x01\x01\0\0\0\0", 11) + std::string(300, '\xff'),
         "Invalid map size? (0 x 0)"},
        {"NUL in a row", std::string("1 2\n?\0?0\n", 9), "Too early EOF (0<->1)!"},
        {"huge header", "100000 100000\n?0?0?0", "Too early EOF (0<->100000)!"},
        {"overflowing header", "1 99999999999999999999\n", "Invalid map size? (2147483647 x 1)"},
        {"high bytes, short", "2 2\n\xe9" "0\xff" "1\n", "Too early EOF (1<->2)!"},
    };
    TempDir dir;
    writeFile(dir.path("a.map"), kOld);
    writeFile(dir.path("b.map"), "1 2\n#4~5\n");
    Window one, two;
    wxTEST_DIALOG(one.command(ID_LOAD_MAP), ExpectFile(dir.path("a.map")));
    wxTEST_DIALOG(two.command(ID_LOAD_MAP), ExpectFile(dir.path("b.map")));
    two.frame->hxmv->setZoom(12);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string file = dir.path("broken.map");
        writeFile(file, c.content);
        for (Window* w : {&one, &two}) {
            const std::string before1 = state(one), before2 = state(two);
            wxString message;
            testing::internal::CaptureStdout();
            wxTEST_DIALOG(w->command(ID_LOAD_MAP), ExpectFile(file), ExpectMessage(&message));
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(message.ToStdString(), "Error reading file " + file + " : " + c.message);
            EXPECT_EQ(state(one), before1);
            EXPECT_EQ(state(two), before2);
        }
    }
    wxTEST_DIALOG(two.command(ID_LOAD_MAP), ExpectFile(dir.path("a.map")));
    EXPECT_EQ(two.frame->hxmv->xs(), 3);
    EXPECT_EQ(two.frame->hxmv->zoom, 8);
    EXPECT_EQ(two.frame->GetTitle(), "Tarven - " + dir.path("a.map"));
}

// The real program, started under a file size limit with SIGXFSZ at its
// default as a shell would leave it, ignores that signal once it is up: a
// save past the limit then fails with EFBIG (the failed save above) instead
// of ending the program.
TEST(Reliability, TheProgramSurvivesTheFileSizeLimitSignal) {
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const rlimit lim{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        execl(TARVEN_BINARY, TARVEN_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    // SigIgn in /proc/<pid>/status: the ignored signals as a hexadecimal mask.
    auto ignoresXfsz = [child]() {
        std::ifstream status("/proc/" + std::to_string(child) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("SigIgn:", 0) == 0)
                return (std::stoull(line.substr(7), nullptr, 16) >> (SIGXFSZ - 1) & 1) != 0;
        return false;
    };
    const bool ignored = waitFor(ignoresXfsz, 10000);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the program ended by itself";
    EXPECT_TRUE(ignored) << "SIGXFSZ would end the program";
    // The same signal sent by hand leaves it running.
    kill(child, SIGXFSZ);
    wxMilliSleep(200);
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "SIGXFSZ ended the program";
    kill(child, SIGTERM);
    waitpid(child, &status, 0);
}

// A message naming a file whose name is not UTF-8 is still shown, with the
// name as well as it can be. (The file selector cannot be handed such a
// name in a test, so the conversion the load and save commands use is
// checked directly.)
TEST(Reliability, MessagesNamingFilesThatAreNotUtf8AreShown) {
    const char* names[] = {"caf\xc3\xa9.map", "caf\xe9.map", "caf\xe9-\xff\x80.map", "caf\xc3.map"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const wxString text = fileMessage(std::string("Error reading file /m/") + name + " : Too early EOF (0<->5)!");
        EXPECT_EQ(text.rfind("Error reading file /m/caf", 0), 0u) << text.utf8_string();
        EXPECT_NE(text.find(".map : Too early EOF (0<->5)!"), wxString::npos) << text.utf8_string();
    }
    EXPECT_EQ(fileMessage("Error reading file /m/caf\xc3\xa9.map : x"), wxString::FromUTF8("Error reading file /m/caf\xc3\xa9.map : x"));
}
