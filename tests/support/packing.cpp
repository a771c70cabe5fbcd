#include "tests/support/packing.h"

#include <utility>

namespace support {

packer::Item FileItem(const std::string& name, Bytes data, packer::Method method, const ItemTimes& times) {
    packer::Item item;
    item.name = name;
    item.data = std::move(data);
    item.method = method;
    item.modificationTime = times.modification;
    item.accessTime = times.access;
    item.creationTime = times.creation;
    return item;
}

packer::Item FolderItem(const std::string& name) {
    packer::Item item = FileItem(name, {}, packer::Method::Stored);
    item.folder = true;
    return item;
}

}  // namespace support
