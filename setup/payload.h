// The payload archive carried in the setup's own resources (RT_RCDATA IDR_PAYLOAD,
// language 1033).
#pragma once

#include <windows.h>

#include "archive/archive.h"

enum class PayloadStatus {
    Found,      // data and size are set
    Missing,    // no such resource
    Empty,      // the resource is 0 bytes long
    NotLoaded,  // LoadResource or LockResource failed; GetLastError tells why
};

struct PayloadBlock {
    const void* data = nullptr;
    DWORD size = 0;
};

// Finds, loads and locks the payload resource of `instance`. The block belongs
// to the module and stays valid for the life of the process.
[[nodiscard]] PayloadStatus FindPayload(HINSTANCE instance, PayloadBlock* block) noexcept;
