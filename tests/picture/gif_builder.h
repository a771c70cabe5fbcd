// Builds GIF streams byte by byte for the picture control's tests: any block
// in any order, including broken ones, with a small LZW encoder for images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace picture_test {

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
    std::uint8_t r, g, b;
};

// LZW-coded image data for the given colour indices: the minimum code size
// byte followed by the data sub-block chain and its terminator.
Bytes EncodeImageData(const std::vector<std::uint8_t>& indices, int minimumCodeSize);

class GifBuilder {
public:
    // A header ("GIF" + version), a screen descriptor and, when the palette
    // is not empty, a global colour table (its size a power of two, 2..256).
    GifBuilder(int width, int height, const std::vector<Rgb>& palette, const char* version = "89a");

    GifBuilder& GraphicControl(int disposal, int delay, int transparentIndex = -1);
    GifBuilder& Application(const char identifier[11], const Bytes& payload);
    GifBuilder& Netscape(int loops);
    GifBuilder& Comment(const std::string& text);
    // An image at left,top filled with one colour index.
    GifBuilder& SolidImage(int left, int top, int width, int height, std::uint8_t index);
    // An image with the given colour indices (width * height of them).
    GifBuilder& Image(int left, int top, int width, int height, const std::vector<std::uint8_t>& indices);
    // An image descriptor with a local colour table of the given size and
    // the given data sub-block chain (no LZW: the chain is taken as it is).
    GifBuilder& RawImage(int left, int top, int width, int height, int localTableEntries, std::uint8_t codeSize,
                         const Bytes& chain);
    GifBuilder& Raw(const Bytes& bytes);
    GifBuilder& Trailer();

    [[nodiscard]] const Bytes& bytes() const { return bytes_; }
    [[nodiscard]] std::size_t size() const { return bytes_.size(); }
    [[nodiscard]] int minimumCodeSize() const { return codeSize_; }

private:
    void Word(int value);
    Bytes bytes_;
    int codeSize_ = 2;
};

// Data sub-blocks holding the given bytes, with the terminating zero.
Bytes SubBlocks(const Bytes& payload);

}  // namespace picture_test
