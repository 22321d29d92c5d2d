// A little-endian writer into a fixed span of bytes.
//
// Records are laid out field by field through Put16/Put32, so their layout never depends on how the compiler
// packs a struct. A put that would run past the end writes nothing and sets a sticky error flag; the caller
// checks Ok() once after the whole record instead of after every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zip {

class PutCursor {
  public:
    explicit PutCursor(std::span<uint8_t> out) : m_out(out) {}

    void Put8(uint8_t value) {
        if (Reserve(1)) {
            m_out[m_used++] = value;
        }
    }

    void Put16(uint16_t value) {
        if (Reserve(2)) {
            m_out[m_used++] = static_cast<uint8_t>(value);
            m_out[m_used++] = static_cast<uint8_t>(value >> 8);
        }
    }

    void Put32(uint32_t value) {
        if (Reserve(4)) {
            for (int shift = 0; shift < 32; shift += 8) {
                m_out[m_used++] = static_cast<uint8_t>(value >> shift);
            }
        }
    }

    void PutBytes(const void* data, size_t count) {
        if (count > 0 && Reserve(count)) {
            std::memcpy(m_out.data() + m_used, data, count);
            m_used += count;
        }
    }

    // Marks the record as one that cannot be written.
    void Fail() { m_ok = false; }

    // False once any put did not fit.
    bool Ok() const { return m_ok; }
    // The bytes put so far.
    size_t Size() const { return m_used; }
    std::span<const uint8_t> Bytes() const { return {m_out.data(), m_used}; }

  private:
    bool Reserve(size_t count) {
        if (!m_ok || m_out.size() - m_used < count) {
            m_ok = false;
            return false;
        }
        return true;
    }

    std::span<uint8_t> m_out;
    size_t m_used = 0;
    bool m_ok = true;
};

}  // namespace zip
