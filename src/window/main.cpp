// The program's entry point: the toolkit creates the one TarvenApp.
#include "tarven.h"

wxIMPLEMENT_APP(TarvenApp);
