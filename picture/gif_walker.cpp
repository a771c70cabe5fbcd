// The walker over a GIF stream: measures every block by the GIF87a/GIF89a
// block grammar and finds where each frame begins and ends. It never decodes
// pixels. Every read is bounded by dataSize; a block that would need a byte at
// or past the end is treated as invalid, which ends the walk.
#include "picture/animated_picture_wnd.h"

namespace {

constexpr BYTE kExtensionIntroducer = 0x21;
constexpr BYTE kImageSeparator = 0x2C;
constexpr BYTE kApplicationLabel = 0xFF;
constexpr BYTE kCommentLabel = 0xFE;
constexpr BYTE kGraphicControlLabel = 0xF9;
constexpr BYTE kPlainTextLabel = 0x01;

constexpr DWORD kHeaderAndScreenSize = 13;
constexpr BYTE kLocalTableFlag = 0x80;   // in an image descriptor's packed byte
constexpr BYTE kGlobalTableFlag = 0x80;  // in the logical screen descriptor's packed byte

// Size in bytes of a colour table whose packed-byte field holds n.
constexpr DWORD ColourTableSize(BYTE packed) { return 3u << ((packed & 7u) + 1u); }

}  // namespace

bool CAnimatedPictureWnd::IsGifStream(const BYTE* bytes, DWORD size) noexcept {
    if (bytes == nullptr || size < 6) return false;
    if (bytes[0] != 'G' || bytes[1] != 'I' || bytes[2] != 'F') return false;
    if (bytes[3] != '8' || bytes[5] != 'a') return false;
    return bytes[4] == '7' || bytes[4] == '9';
}

bool CAnimatedPictureWnd::ByteAt(DWORD offset, BYTE& value) const noexcept {
    if (data_ == nullptr || offset >= dataSize_) return false;
    value = data_[offset];
    return true;
}

bool CAnimatedPictureWnd::WordAt(DWORD offset, DWORD& value) const noexcept {
    if (data_ == nullptr || offset >= dataSize_ || dataSize_ - offset < 2) return false;
    value = static_cast<DWORD>(data_[offset]) | (static_cast<DWORD>(data_[offset + 1]) << 8);
    return true;
}

// Reads the logical screen descriptor: the table size into globalTableSize,
// the screen size into width and height. A stream too short to hold the
// descriptor and its global colour table is rejected.
bool CAnimatedPictureWnd::ReadScreenDescriptor(DWORD& width, DWORD& height) noexcept {
    globalTableSize_ = 0;
    if (data_ == nullptr || dataSize_ < kHeaderAndScreenSize) return false;
    const BYTE packed = data_[10];
    DWORD table = (packed & kGlobalTableFlag) != 0 ? ColourTableSize(packed) : 0;
    if (dataSize_ - kHeaderAndScreenSize < table) return false;
    globalTableSize_ = table;
    width = static_cast<DWORD>(data_[6]) | (static_cast<DWORD>(data_[7]) << 8);
    height = static_cast<DWORD>(data_[8]) | (static_cast<DWORD>(data_[9]) << 8);
    return true;
}

GifBlockKind CAnimatedPictureWnd::BlockKindAt() const noexcept {
    BYTE introducer = 0;
    if (!ByteAt(position_, introducer)) return Unrecognized;
    if (introducer == kImageSeparator) return ImageDescriptor;
    if (introducer == kGifTrailer) return Trailer;
    if (introducer != kExtensionIntroducer) return Unrecognized;
    BYTE label = 0;
    if (position_ == 0xFFFFFFFFu || !ByteAt(position_ + 1, label)) return Unrecognized;
    switch (label) {
        case kApplicationLabel:
            return ApplicationExtension;
        case kCommentLabel:
            return CommentExtension;
        case kGraphicControlLabel:
            return GraphicControlExtension;
        case kPlainTextLabel:
            return PlainTextExtension;
        default:
            return Unrecognized;
    }
}

LONG CAnimatedPictureWnd::SubBlockChainLength(DWORD offset) const noexcept {
    // 64-bit arithmetic: no offset can wrap around, whatever the counts say.
    unsigned long long at = offset;
    unsigned long long sum = 0;
    while (at < dataSize_) {
        const BYTE count = data_[at];
        if (count == 0) {
            sum += 1;
            return sum > 0x7FFFFFFFull ? 0 : static_cast<LONG>(sum);
        }
        at += count + 1ull;
        sum += count + 1ull;
    }
    return 0;  // ran into the end before its terminating zero
}

LONG CAnimatedPictureWnd::BlockLengthAt() const noexcept {
    DWORD fixed = 0;
    switch (BlockKindAt()) {
        case Unrecognized:
            return -1;
        case Trailer:
            return 1;
        case GraphicControlExtension:
            return 8;
        case ApplicationExtension:
            fixed = 14;
            break;
        case CommentExtension:
            fixed = 2;
            break;
        case PlainTextExtension:
            fixed = 15;
            break;
        case ImageDescriptor: {
            BYTE packed = 0;
            if (dataSize_ - position_ <= 9 || !ByteAt(position_ + 9, packed)) return 0;
            fixed = 11 + ((packed & kLocalTableFlag) != 0 ? ColourTableSize(packed) : 0);
            break;
        }
    }
    if (dataSize_ - position_ <= fixed) return 0;  // the chain would start at or past the end
    LONG chain = SubBlockChainLength(position_ + fixed);
    if (chain <= 0) return 0;
    unsigned long long total = static_cast<unsigned long long>(fixed) + static_cast<unsigned long long>(chain);
    return total > 0x7FFFFFFFull ? 0 : static_cast<LONG>(total);
}

bool CAnimatedPictureWnd::SkipBlock() noexcept {
    if (data_ == nullptr) return false;
    LONG length = BlockLengthAt();
    if (length <= 0) return false;
    if (static_cast<unsigned long long>(position_) + static_cast<unsigned long long>(length) > dataSize_) return false;
    position_ += static_cast<DWORD>(length);
    return true;
}

void CAnimatedPictureWnd::RewindToFirstBlock() noexcept { position_ = kHeaderAndScreenSize + globalTableSize_; }

// Passes the application and comment extensions that come before a frame;
// they belong to no frame. Stops at the frame's first block.
bool CAnimatedPictureWnd::SkipLeadingExtensions() noexcept {
    for (;;) {
        switch (BlockKindAt()) {
            case ApplicationExtension:
            case CommentExtension:
                if (!SkipBlock()) return false;
                break;
            case GraphicControlExtension:
            case ImageDescriptor:
            case PlainTextExtension:
                return true;
            default:
                return false;
        }
    }
}

// Walks one frame: an optional graphic control extension, any further
// extensions, then one graphic block. Reads the frame's values on the way.
bool CAnimatedPictureWnd::WalkFrame(FrameValues& values) noexcept {
    if (data_ == nullptr) return false;
    values = FrameValues{0, 0, kNoFrameDelay, 0, 0, 0, 0, 0, false};
    if (!SkipLeadingExtensions()) return false;

    const DWORD start = position_;
    if (BlockLengthAt() <= 0) return false;
    if (BlockKindAt() == GraphicControlExtension) {
        if (!SkipBlock()) return false;
        // The skip proved all 8 bytes are inside the stream.
        values.disposal = static_cast<LONG>((data_[start + 3] >> 2) & 7);
        values.delay = static_cast<DWORD>(data_[start + 4]) | (static_cast<DWORD>(data_[start + 5]) << 8);
        bool atGraphicBlock = false;
        while (!atGraphicBlock) {
            switch (BlockKindAt()) {
                case ApplicationExtension:
                case CommentExtension:
                case GraphicControlExtension:
                    if (!SkipBlock()) return false;
                    break;
                case ImageDescriptor:
                case PlainTextExtension:
                    atGraphicBlock = true;
                    break;
                default:
                    return false;
            }
        }
    }

    const DWORD graphic = position_;
    const GifBlockKind kind = BlockKindAt();
    if (!SkipBlock()) return false;
    // Both graphic blocks are at least 12 bytes long, so the fields are inside.
    const DWORD fields = kind == ImageDescriptor ? graphic + 1 : graphic + 3;
    values.left = data_[fields] | (data_[fields + 1] << 8);
    values.top = data_[fields + 2] | (data_[fields + 3] << 8);
    values.width = data_[fields + 4] | (data_[fields + 5] << 8);
    values.height = data_[fields + 6] | (data_[fields + 7] << 8);
    values.localTable = kind == ImageDescriptor && (data_[graphic + 9] & kLocalTableFlag) != 0;
    values.offset = start;
    values.extent = position_ - start;
    return true;
}

bool CAnimatedPictureWnd::SkipFrame() noexcept {
    FrameValues ignored{};
    return WalkFrame(ignored);
}

DWORD CAnimatedPictureWnd::CountFrames() noexcept {
    RewindToFirstBlock();
    DWORD count = 0;
    while (SkipFrame()) ++count;
    return count;
}
