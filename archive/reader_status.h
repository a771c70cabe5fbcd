// Status values of the archive's inner layers (byte source, directory reader,
// item stream). Zero is success; zlib's own negative codes pass through the
// item stream unchanged, so these values stay clear of zlib's range.
#pragma once

enum ReaderStatus : int {
    ReaderOk = 0,
    ReaderReadFailed = -1,          // a seek or read of the source failed, or a field ran past its end
    ReaderEndOfList = -100,         // no further entry; item stream without a buffer
    ReaderBadArgument = -102,       // no reader, no valid cursor, or no open item stream
    ReaderDamaged = -103,           // a signature, count, method, size, CRC, name or extent check failed
    ReaderOutOfMemory = -104,       // an item stream or its buffer could not be allocated
    ReaderChecksumMismatch = -105,  // CRC-32 of the delivered data differs from the stored one
};
