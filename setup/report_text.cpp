#include "setup/report_text.h"

#include <windows.h>

#include <cstring>

#include "common/path_text.h"

namespace {

constexpr char kEllipsis[] = "...";
constexpr std::size_t kEllipsisLength = sizeof(kEllipsis) - 1;

// The longest prefix of `text` of at most `limit` bytes that does not split a
// double-byte character of the ANSI code page.
std::size_t CharBoundaryAtOrBelow(const char* text, std::size_t length, std::size_t limit) noexcept {
    if (limit >= length) return length;
    std::size_t position = 0;
    while (position < limit) {
        const std::size_t step = win32::CharacterBytes(text + position);
        if (position + step > limit) break;
        position += step;
    }
    return position;
}

// The first character boundary of `text` at or after `start`.
std::size_t CharBoundaryAtOrAbove(const char* text, std::size_t length, std::size_t start) noexcept {
    std::size_t position = 0;
    while (position < start && position < length) position += win32::CharacterBytes(text + position);
    return position < length ? position : length;
}

// Appends bytes to a bounded buffer; everything past its capacity is dropped.
class BoundedWriter {
public:
    BoundedWriter(char* out, std::size_t outSize) noexcept : out_(out), capacity_(outSize ? outSize - 1 : 0) {}
    void Append(const char* text, std::size_t length) noexcept {
        const std::size_t room = capacity_ - used_;
        const std::size_t take = CharBoundaryAtOrBelow(text, length, room);
        std::memcpy(out_ + used_, text, take);
        used_ += take;
    }
    void Append(const char* text) noexcept { Append(text, std::strlen(text)); }
    std::size_t Finish() noexcept {
        out_[used_] = '\0';
        return used_;
    }

private:
    char* out_;
    std::size_t capacity_;
    std::size_t used_ = 0;
};

// Length of `format` once its "%%" are collapsed, without the first "%s".
std::size_t FixedLength(const char* format, bool* hasInsert) noexcept {
    std::size_t length = 0;
    *hasInsert = false;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            ++p;
        } else if (p[0] == '%' && p[1] == 's' && !*hasInsert) {
            *hasInsert = true;
            ++p;
            continue;
        }
        ++length;
    }
    return length;
}

// Appends `insert` in at most `room` bytes, replacing its middle by "..."
// when it is longer.
void AppendShortenedMiddle(BoundedWriter& writer, const char* insert, std::size_t room) noexcept {
    const std::size_t length = std::strlen(insert);
    if (length <= room) {
        writer.Append(insert, length);
        return;
    }
    if (room <= kEllipsisLength) {
        writer.Append(kEllipsis, room);
        return;
    }
    const std::size_t keep = room - kEllipsisLength;
    const std::size_t head = CharBoundaryAtOrBelow(insert, length, keep - keep / 2);
    const std::size_t tailStart = CharBoundaryAtOrAbove(insert, length, length - (keep - head));
    writer.Append(insert, head);
    writer.Append(kEllipsis);
    writer.Append(insert + tailStart, length - tailStart);
}

}  // namespace

std::size_t FormatWithInsert(char* out, std::size_t outSize, const char* format, const char* insert) noexcept {
    if (out == nullptr || outSize == 0) return 0;
    if (format == nullptr) format = "";
    if (insert == nullptr) insert = "";
    bool hasInsert = false;
    const std::size_t fixed = FixedLength(format, &hasInsert);
    const std::size_t room = fixed < outSize - 1 ? outSize - 1 - fixed : 0;

    BoundedWriter writer(out, outSize);
    bool inserted = false;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            writer.Append("%", 1);
            ++p;
        } else if (p[0] == '%' && p[1] == 's' && !inserted) {
            AppendShortenedMiddle(writer, insert, room);
            inserted = true;
            ++p;
        } else {
            const std::size_t bytes = win32::CharacterBytes(p);
            writer.Append(p, bytes);
            p += bytes - 1;
        }
    }
    return writer.Finish();
}

std::size_t ComposeFinalReport(char* out, std::size_t outSize, const char* firstLine, const char* detail) noexcept {
    if (out == nullptr || outSize == 0) return 0;
    if (firstLine == nullptr) firstLine = "";
    if (detail == nullptr) detail = "";
    BoundedWriter writer(out, outSize);
    const std::size_t firstLength = std::strlen(firstLine);
    writer.Append(firstLine, firstLength);
    if (*detail == '\0') return writer.Finish();
    writer.Append("\n", 1);

    const std::size_t used = firstLength + 1;
    const std::size_t room = used < outSize - 1 ? outSize - 1 - used : 0;
    const std::size_t length = std::strlen(detail);
    if (length <= room) {
        writer.Append(detail, length);
    } else if (room > kEllipsisLength) {
        writer.Append(detail, CharBoundaryAtOrBelow(detail, length, room - kEllipsisLength));
        writer.Append(kEllipsis);
    } else {
        writer.Append(kEllipsis, room);
    }
    return writer.Finish();
}
