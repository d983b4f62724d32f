#include "filemessage.h"

#include <wx/strconv.h>

wxString fileMessage(const std::string& message) {
    wxString text = wxString::FromUTF8(message.c_str(), message.size());
    if (text.empty()) text = wxString(message.c_str(), *wxConvFileName);
    if (text.empty()) text = wxString::From8BitData(message.c_str(), message.size());
    return text;
}
