#include "tests/picture/gif_builder.h"

#include <stdexcept>

namespace picture_test {

namespace {

// Packs codes least significant bit first, as GIF does.
class BitWriter {
public:
    void Put(unsigned code, int bits) {
        accumulator_ |= static_cast<std::uint32_t>(code) << filled_;
        filled_ += bits;
        while (filled_ >= 8) {
            out_.push_back(static_cast<std::uint8_t>(accumulator_ & 0xFF));
            accumulator_ >>= 8;
            filled_ -= 8;
        }
    }
    Bytes Finish() {
        if (filled_ > 0) out_.push_back(static_cast<std::uint8_t>(accumulator_ & 0xFF));
        accumulator_ = 0;
        filled_ = 0;
        return out_;
    }

private:
    Bytes out_;
    std::uint32_t accumulator_ = 0;
    int filled_ = 0;
};

int TableBits(std::size_t entries) {
    int n = 0;
    while ((2u << n) < entries) ++n;
    if ((2u << n) != entries || n > 7) throw std::invalid_argument("colour table size must be 2..256, a power of 2");
    return n;
}

}  // namespace

Bytes SubBlocks(const Bytes& payload) {
    Bytes out;
    for (std::size_t at = 0; at < payload.size(); at += 255) {
        std::size_t n = payload.size() - at < 255 ? payload.size() - at : 255;
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                   payload.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
}

// Every pixel goes out as a literal code. A clear code follows before the
// decoder's table would grow past the first code width, so all codes keep
// minimumCodeSize + 1 bits.
Bytes EncodeImageData(const std::vector<std::uint8_t>& indices, int minimumCodeSize) {
    const unsigned clear = 1u << minimumCodeSize;
    const unsigned end = clear + 1;
    const int bits = minimumCodeSize + 1;
    const std::size_t run = clear - 2;
    BitWriter writer;
    writer.Put(clear, bits);
    std::size_t sinceClear = 0;
    for (std::uint8_t index : indices) {
        if (sinceClear == run) {
            writer.Put(clear, bits);
            sinceClear = 0;
        }
        writer.Put(index, bits);
        ++sinceClear;
    }
    writer.Put(end, bits);
    Bytes out{static_cast<std::uint8_t>(minimumCodeSize)};
    Bytes chain = SubBlocks(writer.Finish());
    out.insert(out.end(), chain.begin(), chain.end());
    return out;
}

GifBuilder::GifBuilder(int width, int height, const std::vector<Rgb>& palette, const char* version) {
    bytes_ = {'G', 'I', 'F'};
    for (int i = 0; i < 3; ++i) bytes_.push_back(static_cast<std::uint8_t>(version[i]));
    Word(width);
    Word(height);
    if (palette.empty()) {
        bytes_.push_back(0x00);
    } else {
        int n = TableBits(palette.size());
        bytes_.push_back(static_cast<std::uint8_t>(0x80 | (n << 4) | n));
        codeSize_ = n + 1 < 2 ? 2 : n + 1;
    }
    bytes_.push_back(0);  // background colour index
    bytes_.push_back(0);  // aspect ratio
    for (const Rgb& c : palette) {
        bytes_.push_back(c.r);
        bytes_.push_back(c.g);
        bytes_.push_back(c.b);
    }
}

void GifBuilder::Word(int value) {
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

GifBuilder& GifBuilder::GraphicControl(int disposal, int delay, int transparentIndex) {
    bytes_.insert(bytes_.end(), {0x21, 0xF9, 0x04});
    bytes_.push_back(static_cast<std::uint8_t>(((disposal & 7) << 2) | (transparentIndex >= 0 ? 1 : 0)));
    Word(delay);
    bytes_.push_back(static_cast<std::uint8_t>(transparentIndex >= 0 ? transparentIndex : 0));
    bytes_.push_back(0);
    return *this;
}

GifBuilder& GifBuilder::Application(const char identifier[11], const Bytes& payload) {
    bytes_.insert(bytes_.end(), {0x21, 0xFF, 0x0B});
    for (int i = 0; i < 11; ++i) bytes_.push_back(static_cast<std::uint8_t>(identifier[i]));
    Bytes chain = SubBlocks(payload);
    bytes_.insert(bytes_.end(), chain.begin(), chain.end());
    return *this;
}

GifBuilder& GifBuilder::Netscape(int loops) {
    return Application("NETSCAPE2.0", Bytes{1, static_cast<std::uint8_t>(loops & 0xFF),
                                            static_cast<std::uint8_t>((loops >> 8) & 0xFF)});
}

GifBuilder& GifBuilder::Comment(const std::string& text) {
    bytes_.insert(bytes_.end(), {0x21, 0xFE});
    Bytes chain = SubBlocks(Bytes(text.begin(), text.end()));
    bytes_.insert(bytes_.end(), chain.begin(), chain.end());
    return *this;
}

GifBuilder& GifBuilder::SolidImage(int left, int top, int width, int height, std::uint8_t index) {
    return Image(left, top, width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height), index));
}

GifBuilder& GifBuilder::Image(int left, int top, int width, int height, const std::vector<std::uint8_t>& indices) {
    bytes_.push_back(0x2C);
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    bytes_.push_back(0x00);
    Bytes data = EncodeImageData(indices, codeSize_);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    return *this;
}

GifBuilder& GifBuilder::RawImage(int left, int top, int width, int height, int localTableEntries, std::uint8_t codeSize,
                                 const Bytes& chain) {
    bytes_.push_back(0x2C);
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    if (localTableEntries > 0) {
        int n = TableBits(static_cast<std::size_t>(localTableEntries));
        bytes_.push_back(static_cast<std::uint8_t>(0x80 | n));
        for (int i = 0; i < localTableEntries; ++i) bytes_.insert(bytes_.end(), {0x10, 0x20, 0x30});
    } else {
        bytes_.push_back(0x00);
    }
    bytes_.push_back(codeSize);
    bytes_.insert(bytes_.end(), chain.begin(), chain.end());
    return *this;
}

GifBuilder& GifBuilder::Raw(const Bytes& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

GifBuilder& GifBuilder::Trailer() {
    bytes_.push_back(0x3B);
    return *this;
}

}  // namespace picture_test
