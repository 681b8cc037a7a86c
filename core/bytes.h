// Bounded views over sector buffers and checked little-endian readers for on-disk fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace quorlan {

// A read-only window over bytes taken from a medium. Every read is checked against the window:
// an offset outside it gives an empty optional, never a read past the buffer.
class ByteView {
public:
    ByteView() = default;
    ByteView(std::span<const std::byte> bytes) : m_bytes(bytes) {}
    ByteView(const std::byte* data, std::size_t size) : m_bytes(data, size) {}

    [[nodiscard]] std::size_t size() const { return m_bytes.size(); }
    [[nodiscard]] const std::byte* data() const { return m_bytes.data(); }
    [[nodiscard]] std::span<const std::byte> span() const { return m_bytes; }

    [[nodiscard]] bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
    }

    [[nodiscard]] std::optional<std::uint8_t> u8(std::uint64_t offset) const {
        if (!contains(offset, 1)) return std::nullopt;
        return std::to_integer<std::uint8_t>(m_bytes[offset]);
    }
    [[nodiscard]] std::optional<std::uint16_t> u16le(std::uint64_t offset) const {
        return read<std::uint16_t, 2>(offset);
    }
    [[nodiscard]] std::optional<std::uint32_t> u32le(std::uint64_t offset) const {
        return read<std::uint32_t, 4>(offset);
    }
    [[nodiscard]] std::optional<std::uint64_t> u64le(std::uint64_t offset) const {
        return read<std::uint64_t, 8>(offset);
    }

    // True when the bytes at offset equal text exactly (no terminator compared).
    [[nodiscard]] bool matches(std::uint64_t offset, std::string_view text) const {
        if (!contains(offset, text.size())) return false;
        return std::memcmp(m_bytes.data() + offset, text.data(), text.size()) == 0;
    }

    // A sub-window; empty when it does not lie inside this one.
    [[nodiscard]] ByteView sub(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length)) return {};
        return ByteView(m_bytes.subspan(offset, length));
    }

    // Unchecked reads for inner loops whose bounds the caller proved once.
    [[nodiscard]] std::uint8_t u8_unchecked(std::size_t offset) const {
        return std::to_integer<std::uint8_t>(m_bytes[offset]);
    }
    [[nodiscard]] std::uint16_t u16le_unchecked(std::size_t offset) const {
        return static_cast<std::uint16_t>(u8_unchecked(offset) | (u8_unchecked(offset + 1) << 8));
    }
    [[nodiscard]] std::uint32_t u32le_unchecked(std::size_t offset) const {
        return static_cast<std::uint32_t>(u16le_unchecked(offset)) |
               (static_cast<std::uint32_t>(u16le_unchecked(offset + 2)) << 16);
    }

private:
    template <typename T, std::size_t N>
    [[nodiscard]] std::optional<T> read(std::uint64_t offset) const {
        if (!contains(offset, N)) return std::nullopt;
        T value = 0;
        for (std::size_t i = 0; i < N; ++i) {
            value = static_cast<T>(value |
                                   (static_cast<T>(std::to_integer<std::uint8_t>(m_bytes[offset + i]))
                                    << (8 * i)));
        }
        return value;
    }

    std::span<const std::byte> m_bytes;
};

// Multiplication and addition of untrusted on-disk values; an empty optional on overflow.
[[nodiscard]] inline std::optional<std::uint64_t> checkedMul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
    return r;
}
[[nodiscard]] inline std::optional<std::uint64_t> checkedAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
    return r;
}

}  // namespace quorlan
