// Hand-laid ZIP archives for the reader's tests: every field can be set to a wrong value on purpose, and the
// layout tells where each record landed, so a test can damage exactly one field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ziptest {

struct TestMember {
    TestMember(std::string name_, std::string data_, uint16_t method_ = 8, uint16_t flags_ = 0)
        : name(std::move(name_)), data(std::move(data_)), method(method_), flags(flags_) {}

    std::string name;
    std::string data;
    uint16_t method = 8;  // 0 stored, 8 deflated
    uint16_t flags = 0;  // 0x0008 writes zeros for CRC and sizes into the local header and a descriptor after
    // Overrides for broken archives: the bytes stored as member data, and the recorded uncompressed size.
    std::optional<std::string> payload;
    std::optional<uint32_t> recordedSize;
    std::string centralExtra;
};

struct TestArchive {
    std::string bytes;
    std::vector<size_t> local;    // offset of each local header
    std::vector<size_t> data;     // offset of each member's data
    std::vector<size_t> central;  // offset of each central header
    size_t end = 0;               // offset of the end record
};

TestArchive BuildArchive(const std::vector<TestMember>& members, const std::string& comment = "");

std::string Deflate(const std::string& data);
// A raw deflate stream of `data` that is flushed but never given its final block.
std::string DeflateWithoutEnd(const std::string& data);
uint32_t Crc32(const std::string& data);
// Bytes that deflate into something of about their own size, like photo data.
std::string NoiseBytes(size_t size, uint32_t seed);

void Put16(std::string& bytes, size_t at, uint16_t value);
void Put32(std::string& bytes, size_t at, uint32_t value);

}  // namespace ziptest
