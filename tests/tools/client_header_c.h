/* Entry points of the C translation unit that includes the client header. */
#ifndef CLIENT_HEADER_C_H
#define CLIENT_HEADER_C_H

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

int OrsantoCPathFromPayload(const void* payload, size_t size, char* path, size_t pathSize);
const wchar_t* OrsantoCMessageText(unsigned identifier);

#ifdef __cplusplus
}
#endif

#endif
