// A byte source seen as the object-file layer's checked bytes, so that the format readers read
// through it (counted, windowed) rather than through views of their own.
#pragma once

#include "objfile/byte_view.hpp"
#include "vhost/bundle/byte_source.hpp"

namespace vhost::bundle {

class SourceBytes final : public objfile::Bytes {
public:
    explicit SourceBytes(ByteSource& source) noexcept : Bytes(source.size()), m_source(source) {}

private:
    void copy(std::uint64_t offset, void* out, std::size_t count) const override {
        if (!m_source.read(offset, count, out)) {
            throw objfile::FormatError("reading " + objfile::hex(count) + " bytes at " + objfile::hex(offset) + " failed");
        }
    }
    ByteSource& m_source;
};

}  // namespace vhost::bundle
