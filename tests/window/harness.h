// Shared helpers of the window tests: a running toolkit, dialog hooks that
// never block, and reading back what was drawn.
#ifndef TARVEN_TESTS_HARNESS_H
#define TARVEN_TESTS_HARNESS_H

#include <functional>
#include <string>

#include <gtest/gtest.h>
#include <wx/wx.h>
#include <wx/image.h>
#include <wx/textdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>

// An unexpected dialog is reported as a test failure and cancelled instead
// of being shown, which would block the test forever.
class NonBlockingModalHook;
#define wxTEST_DIALOG_HOOK_CLASS NonBlockingModalHook
#include <wx/testing.h>

class NonBlockingModalHook : public wxTestingModalHook {
public:
    NonBlockingModalHook(const char* file, int line, const char* func) : wxTestingModalHook(file, line, func) {}

protected:
    int Enter(wxDialog* dlg) override {
        const int result = wxTestingModalHook::Enter(dlg);
        return result == wxID_NONE ? wxID_CANCEL : result;
    }
    void ReportFailure(const wxString& msg) override { ADD_FAILURE() << msg.ToStdString(); }
};

// Answers a text entry dialog with the given text and OK (or Cancel), and
// records its title and the text it offered.
template <>
class wxExpectModal<wxTextEntryDialog> : public wxExpectModalBase<wxTextEntryDialog> {
public:
    explicit wxExpectModal(const wxString& value, int id = wxID_OK, wxString* title = nullptr,
                           wxString* initial = nullptr)
        : m_value(value), m_id(id), m_title(title), m_initial(initial) {}

protected:
    int OnInvoked(wxTextEntryDialog* dlg) const override {
        if (m_title) *m_title = dlg->GetTitle();
        if (m_initial) *m_initial = dlg->GetValue();
        dlg->SetValue(m_value);
        return m_id;
    }
    wxString m_value;
    int m_id;
    wxString* m_title;
    wxString* m_initial;
};

// Dismisses a message box with OK and records its text and title.
class ExpectMessage : public wxExpectModalBase<wxMessageDialog> {
public:
    ExpectMessage(wxString* message, wxString* title = nullptr) : m_message(message), m_title(title) {}

protected:
    int OnInvoked(wxMessageDialog* dlg) const override {
        if (m_message) *m_message = dlg->GetMessage();
        if (m_title) *m_title = dlg->GetTitle();
        return wxID_OK;
    }
    wxString* m_message;
    wxString* m_title;
};

// Picks a path in a file selector. On GTK the chooser takes the path only
// after the toolkit has run a little, so wait until it reads back.
class ExpectFile : public wxExpectModalBase<wxFileDialog> {
public:
    explicit ExpectFile(const wxString& path, int id = wxID_OK) : m_path(path), m_id(id) {}

protected:
    int OnInvoked(wxFileDialog* dlg) const override {
        dlg->SetPath(m_path);
        for (int i = 0; i < 200 && dlg->GetPath().empty(); ++i) {
            wxYield();
            wxMilliSleep(5);
        }
        return m_id;
    }
    wxString m_path;
    int m_id;
};

class wxToolBar;
// Screen position of the centre of the toolbar item at `index` (separators
// count). The toolkit cannot tell tool positions on this platform, so the
// native toolbar is asked.
wxPoint toolCentre(wxToolBar* tb, int index);

// Lets the toolkit process pending events, paints and idle handlers.
void pump(int rounds = 5);

// Pumps until cond() holds or about `ms` milliseconds have passed.
bool waitFor(const std::function<bool()>& cond, int ms = 2000);

// What a shown window has on screen, read from its client area.
wxImage grabClient(wxWindow* window);

// Shows a top-level frame holding `child` with the given client size.
wxColour pixel(const wxImage& image, int x, int y);

// A fresh empty directory for one test, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

#endif
