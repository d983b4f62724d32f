#ifndef TARVEN_FILEMESSAGE_H
#define TARVEN_FILEMESSAGE_H

#include <string>

#include <wx/string.h>

// The text of a load or save message for a message box. The message holds
// the file name as the file system gave it, which need not be UTF-8: such a
// message is converted through the file name encoding, or byte by byte,
// rather than shown as an empty box.
wxString fileMessage(const std::string& message);

#endif
