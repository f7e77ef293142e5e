// The one header that subsystem code includes for platform services.
// On Windows it is the platform's own headers with the few CE-only calls that
// desktop headers lack; elsewhere it is the host terminal's implementation of
// the same API.
#pragma once

#if defined(_WIN32)
#include "win32/ce_api.h"
#else
#include "host/host_api.h"
#endif

#include "text.h"
#include "textfile.h"
