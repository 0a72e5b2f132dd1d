// Security attributes with a null access list, for the named objects that
// every account must reach: the printer side opens the events from another
// account, and the agents of all users share the log's mutex.
#pragma once

#include <windows.h>

struct OpenSecurity {
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;  // not inheritable
};

void BuildOpenSecurity(OpenSecurity* security);
