#include "vhost/ry/numeric_data.hpp"

#include <cstring>
#include <limits>

#include "vhost/ry/blocks.hpp"
#include "vhost/ry/raise.hpp"
#include "vhost/ry/slots.hpp"
#include "vhost/ry/thread_block.hpp"

namespace vhost::ry {
namespace {

template <std::size_t N>
struct Element {
    unsigned char bytes[N];
};

template <std::size_t N>
void interleaveAs(void* pairs, const void* re, const void* im, std::size_t count) {
    auto* out = static_cast<Element<N>*>(pairs);
    auto* r = static_cast<const Element<N>*>(re);
    auto* i = static_cast<const Element<N>*>(im);
    for (std::size_t k = 0; k < count; ++k) {
        out[2 * k] = r[k];
        out[2 * k + 1] = i[k];
    }
}

template <std::size_t N>
void deinterleaveAs(const void* pairs, void* re, void* im, std::size_t count) {
    auto* in = static_cast<const Element<N>*>(pairs);
    auto* r = static_cast<Element<N>*>(re);
    auto* i = static_cast<Element<N>*>(im);
    for (std::size_t k = 0; k < count; ++k) {
        r[k] = in[2 * k];
        i[k] = in[2 * k + 1];
    }
}

// Complex data is only ever numeric, so the element size is 1, 2, 4 or 8.
void interleave(void* pairs, const void* re, const void* im, std::size_t count, std::size_t size) {
    switch (size) {
        case 1: return interleaveAs<1>(pairs, re, im, count);
        case 2: return interleaveAs<2>(pairs, re, im, count);
        case 4: return interleaveAs<4>(pairs, re, im, count);
        default: return interleaveAs<8>(pairs, re, im, count);
    }
}

void deinterleave(const void* pairs, void* re, void* im, std::size_t count, std::size_t size) {
    switch (size) {
        case 1: return deinterleaveAs<1>(pairs, re, im, count);
        case 2: return deinterleaveAs<2>(pairs, re, im, count);
        case 4: return deinterleaveAs<4>(pairs, re, im, count);
        default: return deinterleaveAs<8>(pairs, re, im, count);
    }
}

}  // namespace

static_assert(sizeof(NumericData) <= slots::kDataSlot && alignof(NumericData) <= 16);

void* NumericData::operator new(std::size_t) { return slots::take(slots::Kind::Data); }
void NumericData::operator delete(void* slot) noexcept { slots::give(slots::Kind::Data, slot); }

void NumericData::releaseBlock(void* pointer) noexcept { freeBlock(pointer); }

std::size_t NumericData::sizeOf(const void* pointer, std::size_t elements) const noexcept {
    if (!pointer) return 0;
    return isInline(pointer) ? elements * m_elementSize : headerOf(pointer)->size;
}

void NumericData::raiseTooLarge() { raiseOutOfMemory(std::numeric_limits<std::size_t>::max()); }

void NumericData::noteBlocks() const noexcept {
    m_hasBlocks = true;
    if (m_hostSlot) hostTookBlocks(m_hostSlot);
}

void* NumericData::blockBuffer(std::size_t bytes, bool zeroed) const {
    void* block = allocateBlock(bytes, zeroed);
    if (!block) raiseOutOfMemory(bytes);
    noteBlocks();
    return block;
}

void NumericData::releaseBlocks() noexcept {
    release(m_real);
    release(m_imag);
    release(m_interleaved);
}

void NumericData::makeComplexBuffers(Layout layout, bool zeroed) {
    if (layout == Layout::Interleaved) {
        if (m_count > std::numeric_limits<std::size_t>::max() / 2) raiseTooLarge();
        m_interleaved = buffer(2 * m_count, zeroed);
        return;
    }
    m_real = buffer(m_count, zeroed);
    try {
        m_imag = buffer(m_count, zeroed);
    } catch (...) {
        release(m_real);
        addTo(threadBlock().counts, -std::int64_t{m_inlineBytes});
        throw;
    }
}

NumericData::NumericData(const NumericData& other)
    : m_holders(kReference), m_elementSize(other.m_elementSize), m_count(other.m_count), m_complex(other.m_complex),
      m_primary(other.m_primary), m_hostSlot(nullptr) {
    auto copy = [this](const void* from, std::size_t elements) {
        void* to = buffer(elements, false);
        std::memcpy(to, from, elements * m_elementSize);
        return to;
    };
    if (m_complex && m_primary == Layout::Interleaved) {
        m_interleaved = copy(other.m_interleaved, 2 * m_count);
        return;
    }
    m_real = copy(other.m_real, m_count);
    if (m_complex) {
        try {
            m_imag = copy(other.m_imag, m_count);
        } catch (...) {
            release(m_real);
            addTo(threadBlock().counts, -std::int64_t{m_inlineBytes});
            throw;
        }
    }
}


// Builds (or refreshes) the `target` layout from the primary one.
void NumericData::materialize(Layout target) const {
    if (target == Layout::Separate) {
        if (!m_real) m_real = buffer(m_count, false);
        if (!m_imag) m_imag = buffer(m_count, false);
        deinterleave(m_interleaved, m_real, m_imag, m_count, m_elementSize);
    } else {
        if (!m_interleaved) m_interleaved = buffer(2 * m_count, false);
        interleave(m_interleaved, m_real, m_imag, m_count, m_elementSize);
    }
}

void* NumericData::access(Layout layout, Access mode, void* const& pointer) const {
    if (layout != m_primary) {
        if (!m_otherInStep) {
            materialize(layout);
            m_otherInStep = true;
        }
        if (mode == Access::Write) m_primary = layout;
    }
    if (mode == Access::Write) m_otherInStep = false;
    return pointer;
}

void* NumericData::imag(Access mode) const {
    if (!m_complex) return nullptr;
    return access(Layout::Separate, mode, m_imag);
}

void* NumericData::interleaved(Access mode) const {
    if (!m_complex) return m_real;
    return access(Layout::Interleaved, mode, m_interleaved);
}

void NumericData::sync() {
    if (!m_complex) return;
    const bool otherExists = m_primary == Layout::Separate ? m_interleaved != nullptr : (m_real && m_imag);
    if (!otherExists) return;
    materialize(m_primary == Layout::Separate ? Layout::Interleaved : Layout::Separate);
    m_otherInStep = true;
}

void NumericData::makeComplex(Layout layout) {
    if (m_complex) return;
    if (layout == Layout::Separate) {
        m_imag = buffer(m_count, true);
    } else {
        if (m_count > std::numeric_limits<std::size_t>::max() / 2) raiseOutOfMemory(std::numeric_limits<std::size_t>::max());
        m_interleaved = buffer(2 * m_count, true);
        // The imaginary parts are the zeros calloc left between the copied real parts.
        auto* pairs = static_cast<unsigned char*>(m_interleaved);
        auto* re = static_cast<const unsigned char*>(m_real);
        for (std::size_t k = 0; k < m_count; ++k)
            std::memcpy(pairs + 2 * k * m_elementSize, re + k * m_elementSize, m_elementSize);
    }
    m_complex = true;
    m_primary = layout;
    m_otherInStep = false;
}

void NumericData::makeReal() {
    if (!m_complex) return;
    if (m_primary == Layout::Interleaved && !m_otherInStep) materialize(Layout::Separate);
    release(m_imag);
    release(m_interleaved);
    m_imag = m_interleaved = nullptr;
    m_complex = false;
    m_primary = Layout::Separate;
    m_otherInStep = false;
}

void NumericData::reserve(std::size_t count) {
    if (count <= m_count) return;
    auto grow = [this](void*& block, std::size_t had, std::size_t elements) {
        if (m_elementSize != 0 && elements > std::numeric_limits<std::size_t>::max() / m_elementSize)
            raiseOutOfMemory(std::numeric_limits<std::size_t>::max());
        const std::size_t bytes = elements * m_elementSize;
        if (isInline(block)) {
            // The record's own buffer cannot grow: its content moves to a block.
            void* moved = allocateBlock(bytes, true);
            if (!moved) raiseOutOfMemory(bytes);
            noteBlocks();
            std::memcpy(moved, block, had * m_elementSize);
            block = moved;
            return;
        }
        void* grown = reallocateBlock(block, bytes, true);
        if (!grown) raiseOutOfMemory(bytes);
        block = grown;
    };
    if (!m_complex) {
        grow(m_real, m_count, count);
    } else if (m_primary == Layout::Separate) {
        grow(m_real, m_count, count);
        grow(m_imag, m_count, count);
        release(m_interleaved);
        m_interleaved = nullptr;
    } else {
        if (count > std::numeric_limits<std::size_t>::max() / 2) raiseOutOfMemory(std::numeric_limits<std::size_t>::max());
        grow(m_interleaved, 2 * m_count, 2 * count);
        release(m_real);
        release(m_imag);
        m_real = m_imag = nullptr;
    }
    m_otherInStep = false;
    m_count = count;
}

void NumericData::adoptReal(void* block) {
    if (m_complex && m_primary == Layout::Interleaved && !m_otherInStep) materialize(Layout::Separate);
    if (block != m_real) release(m_real);
    m_real = block;
    if (block) noteBlocks();
    m_primary = Layout::Separate;
    m_otherInStep = false;
}

void NumericData::adoptImag(void* block) {
    if (!m_complex) {
        m_complex = true;
    } else if (m_primary == Layout::Interleaved && !m_otherInStep) {
        materialize(Layout::Separate);
    }
    if (block != m_imag) release(m_imag);
    m_imag = block;
    if (block) noteBlocks();
    m_primary = Layout::Separate;
    m_otherInStep = false;
}

void NumericData::adoptInterleaved(void* block) {
    if (!m_complex) return adoptReal(block);
    if (block != m_interleaved) release(m_interleaved);
    m_interleaved = block;
    if (block) noteBlocks();
    m_primary = Layout::Interleaved;
    m_otherInStep = false;
}

std::size_t NumericData::bytes() const noexcept {
    return sizeOf(m_real, m_count) + sizeOf(m_imag, m_count) + sizeOf(m_interleaved, 2 * m_count);
}

}  // namespace vhost::ry
