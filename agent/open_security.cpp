// Security attributes with a null access list.
#include "agent/open_security.h"

void BuildOpenSecurity(OpenSecurity* security)
{
    InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&security->descriptor, TRUE, nullptr, FALSE);
    security->attributes.nLength = sizeof(security->attributes);
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
}
