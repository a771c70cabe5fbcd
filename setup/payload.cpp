#include "setup/payload.h"

#include "resources/resource_ids.h"

PayloadStatus FindPayload(HINSTANCE instance, PayloadBlock* block) noexcept {
    *block = PayloadBlock{};
    HRSRC resource = ::FindResourceExA(instance, RT_RCDATA, MAKEINTRESOURCEA(IDR_PAYLOAD),
                                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (resource == nullptr) return PayloadStatus::Missing;
    const DWORD size = ::SizeofResource(instance, resource);
    if (size == 0) return PayloadStatus::Empty;
    HGLOBAL loaded = ::LoadResource(instance, resource);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr) return PayloadStatus::NotLoaded;
    block->data = data;
    block->size = size;
    return PayloadStatus::Found;
}
