/* The client header compiled as C, with its helpers called from C. */
#include "orsanto/client.h"

#include "client_header_c.h"

int OrsantoCPathFromPayload(const void* payload, size_t size, char* path, size_t pathSize)
{
    return OrsantoPathFromPayload(payload, size, path, pathSize) ? 1 : 0;
}

const wchar_t* OrsantoCMessageText(unsigned identifier)
{
    return OrsantoMessageText(identifier);
}
