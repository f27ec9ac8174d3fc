#include "objfile/loadable.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "objfile/elf.hpp"

namespace objfile {
namespace {

using namespace elf;
using C = Elf64;  // the only class a 64-bit process maps

// The page size every machine checked here maps with at least; the system loader refuses a
// segment alignment that is not a multiple of it.
constexpr std::uint64_t kMinPageSize = 0x1000;

// A refusal, thrown from deep inside the checks and caught once.
struct Refused {
    Refusal refusal;
    std::string reason;
};

[[noreturn]] void refuse(Refusal refusal, std::string reason) { throw Refused{refusal, std::move(reason)}; }

bool startsWith(const Bytes& file, std::initializer_list<unsigned char> magic) {
    if (!file.contains(0, magic.size())) return false;
    const std::string head = file.readText(0, magic.size(), [] { return std::string("the first bytes"); });
    return std::equal(magic.begin(), magic.end(), head.begin(),
                      [](unsigned char want, char have) { return want == static_cast<unsigned char>(have); });
}

// Files that are no ELF file: what they are, when the first bytes say.
[[noreturn]] void refuseOtherFormat(const Bytes& file) {
    if (file.size() == 0) refuse(Refusal::NotElf, "the file is empty: it has no ELF header");
    if (startsWith(file, {'M', 'Z'})) refuse(Refusal::NotElf, "a Windows (PE) library, not an ELF shared library");
    for (auto magic : {std::initializer_list<unsigned char>{0xCE, 0xFA, 0xED, 0xFE}, {0xCF, 0xFA, 0xED, 0xFE},
                       {0xFE, 0xED, 0xFA, 0xCE}, {0xFE, 0xED, 0xFA, 0xCF}, {0xCA, 0xFE, 0xBA, 0xBE}}) {
        if (startsWith(file, magic)) refuse(Refusal::NotElf, "a Mach-O file (macOS), not an ELF shared library");
    }
    refuse(Refusal::NotElf, "no ELF header: the file does not start with 0x7f 'E' 'L' 'F'");
}

void checkIdentification(const Bytes& file) {
    if (!hasElfMagic(file)) refuseOtherFormat(file);
    if (!file.contains(0, EI_NIDENT)) {
        refuse(Refusal::Damaged, "the file is " + hex(file.size()) + " bytes long and ends inside the ELF identification");
    }
    const auto ident = file.read<std::array<unsigned char, EI_NIDENT>>(0, [] { return std::string("e_ident"); });
    const auto field = [](const char* name, unsigned value) {
        return std::string("e_ident[") + name + "] " + dec(value);
    };
    switch (ident[EI_CLASS]) {
        case ELFCLASS64: break;
        case ELFCLASS32: refuse(Refusal::Foreign, "a 32-bit ELF file (" + field("EI_CLASS", ELFCLASS32) + "), not 64-bit");
        default: refuse(Refusal::Damaged, field("EI_CLASS", ident[EI_CLASS]) + " names no ELF class");
    }
    switch (ident[EI_DATA]) {
        case ELFDATA2LSB: break;
        case ELFDATA2MSB:
            refuse(Refusal::Foreign, "a big-endian ELF file (" + field("EI_DATA", ELFDATA2MSB) + "), not little-endian");
        default: refuse(Refusal::Damaged, field("EI_DATA", ident[EI_DATA]) + " names no byte order");
    }
    if (ident[EI_VERSION] != EV_CURRENT) {
        refuse(Refusal::Damaged, field("EI_VERSION", ident[EI_VERSION]) + " is not EV_CURRENT (1)");
    }
    if (ident[EI_OSABI] != ELFOSABI_SYSV && ident[EI_OSABI] != ELFOSABI_GNU) {
        refuse(Refusal::Foreign, "built for another operating system (" + field("EI_OSABI", ident[EI_OSABI]) + ")");
    }
    if (ident[EI_OSABI] == ELFOSABI_SYSV && ident[EI_ABIVERSION] != 0) {
        refuse(Refusal::Damaged, field("EI_ABIVERSION", ident[EI_ABIVERSION]) + " is not 0 for e_ident[EI_OSABI] 0");
    }
    for (int i = EI_PAD; i < EI_NIDENT; ++i) {
        if (ident[i] != 0) refuse(Refusal::Damaged, "e_ident[" + dec(i) + "] " + hex(ident[i]) + " is padding that must be 0");
    }
}

void checkHeader(const C::Ehdr& ehdr, const LoadTarget& target) {
    const std::uint16_t machine = ehdr.e_machine.value();
    if (machine != target.machine) {
        refuse(Refusal::Foreign, "built for " + machineName(machine) + " (e_machine " + dec(machine) + "), not " +
                                     machineName(target.machine));
    }
    switch (ehdr.e_type.value()) {
        case ET_DYN: break;
        case ET_EXEC: refuse(Refusal::Foreign, "an executable (e_type ET_EXEC), not a shared library");
        case ET_REL: refuse(Refusal::Foreign, "an object file (e_type ET_REL), not a shared library: it is not linked yet");
        case ET_CORE: refuse(Refusal::Foreign, "a core dump (e_type ET_CORE), not a shared library");
        default: refuse(Refusal::Damaged, "e_type " + hex(ehdr.e_type.value()) + " names no ELF file type");
    }
    if (ehdr.e_version.value() != EV_CURRENT) {
        refuse(Refusal::Damaged, "e_version " + dec(ehdr.e_version.value()) + " is not EV_CURRENT (1)");
    }
    if (ehdr.e_phentsize.value() != sizeof(C::Phdr)) {
        refuse(Refusal::Damaged, "e_phentsize " + dec(ehdr.e_phentsize.value()) + " is not the size of a program header (" +
                                     dec(sizeof(C::Phdr)) + ")");
    }
}

// `count` entries of type T at `offset`, read at once.
template <class T, class Describe>
std::vector<T> readTable(const Bytes& file, std::uint64_t offset, std::uint64_t count, Describe&& describe) {
    const std::string bytes = file.readText(offset, count * sizeof(T), describe);
    std::vector<T> table(static_cast<std::size_t>(count));
    if (count != 0) std::memcpy(table.data(), bytes.data(), bytes.size());
    return table;
}

// The program headers the loader maps by, with their indices for messages.
struct Segment {
    std::uint64_t index;
    C::Phdr phdr;
    std::uint64_t vaddr() const { return phdr.p_vaddr.value(); }
    std::uint64_t offset() const { return phdr.p_offset.value(); }
    std::uint64_t filesz() const { return phdr.p_filesz.value(); }
};

struct Layout {
    std::vector<Segment> loads;
    std::optional<Segment> dynamic;

    // Where the loader finds [vaddr, vaddr + size) in the file: inside the file contents of a
    // PT_LOAD segment, or nowhere.
    std::optional<std::pair<std::uint64_t, const Segment*>> fileOffsetOf(std::uint64_t vaddr, std::uint64_t size) const {
        for (const Segment& load : loads) {
            if (vaddr < load.vaddr()) continue;
            const std::uint64_t into = vaddr - load.vaddr();
            if (into > load.filesz() || load.filesz() - into < size) continue;
            return std::make_pair(load.offset() + into, &load);
        }
        return std::nullopt;
    }
};

std::string describeSegment(const Segment& s, const char* type) {
    return "program header " + dec(s.index) + " (" + type + ")";
}

Layout readSegments(const Bytes& file, const C::Ehdr& ehdr) {
    const std::uint64_t count = programHeaderCount<C>(file, ehdr);
    if (count == 0) refuse(Refusal::Damaged, "e_phnum 0: the file has no program headers");
    const std::uint64_t phoff = ehdr.e_phoff.value();
    const auto phdrs = readTable<C::Phdr>(file, phoff, count, [&] {
        return "the program header table at e_phoff " + hex(phoff) + " (" + dec(count) + " x " + dec(sizeof(C::Phdr)) +
               " bytes) lies";
    });
    Layout layout;
    for (std::uint64_t i = 0; i < count; ++i) {
        const Segment segment{i, phdrs[i]};
        const auto& p = segment.phdr;
        file.require(p.p_offset.value(), p.p_filesz.value(), [&] {
            return "program header " + dec(i) + " has p_offset " + hex(p.p_offset.value()) + " + p_filesz " +
                   hex(p.p_filesz.value());
        });
        if (p.p_type.value() == PT_LOAD) {
            if (p.p_filesz.value() > p.p_memsz.value()) {
                refuse(Refusal::Damaged, describeSegment(segment, "PT_LOAD") + " has p_filesz " + hex(p.p_filesz.value()) +
                                             " larger than p_memsz " + hex(p.p_memsz.value()));
            }
            const std::uint64_t align = p.p_align.value();
            if ((align & (kMinPageSize - 1)) != 0) {
                refuse(Refusal::Damaged, describeSegment(segment, "PT_LOAD") + " has p_align " + hex(align) +
                                             ", not a multiple of the page size " + hex(kMinPageSize));
            }
            // An alignment of 0 leaves no freedom: the address must equal the offset.
            if (((p.p_vaddr.value() - p.p_offset.value()) & (align - 1)) != 0) {
                refuse(Refusal::Damaged, describeSegment(segment, "PT_LOAD") + " has p_vaddr " + hex(p.p_vaddr.value()) +
                                             " and p_offset " + hex(p.p_offset.value()) + ", which differ by no multiple of p_align " +
                                             hex(align));
            }
            layout.loads.push_back(segment);
        } else if (p.p_type.value() == PT_DYNAMIC) {
            if (layout.dynamic) {
                refuse(Refusal::Damaged, "program headers " + dec(layout.dynamic->index) + " and " + dec(i) +
                                             " are both PT_DYNAMIC");
            }
            layout.dynamic = segment;
        }
    }
    if (layout.loads.empty()) refuse(Refusal::Damaged, "no program header is PT_LOAD: nothing would be mapped");
    if (!layout.dynamic) refuse(Refusal::Damaged, "no program header is PT_DYNAMIC: the file is not a dynamically linked library");
    return layout;
}

// The dynamic entries as the loader reads them: through the segment that maps PT_DYNAMIC's
// address, which must be the place PT_DYNAMIC names in the file.
std::vector<C::Dyn> readDynamic(const Bytes& file, const Layout& layout) {
    const Segment& dynamic = *layout.dynamic;
    const std::uint64_t vaddr = dynamic.vaddr();
    const std::uint64_t memsz = dynamic.phdr.p_memsz.value();
    const auto where = layout.fileOffsetOf(vaddr, memsz);
    if (!where) {
        refuse(Refusal::Damaged, describeSegment(dynamic, "PT_DYNAMIC") + " has p_vaddr " + hex(vaddr) + " + p_memsz " +
                                     hex(memsz) + ", which no PT_LOAD segment's file contents hold");
    }
    if (where->first != dynamic.offset()) {
        refuse(Refusal::Damaged, describeSegment(dynamic, "PT_DYNAMIC") + " has p_offset " + hex(dynamic.offset()) +
                                     ", but program header " + dec(where->second->index) + " maps its p_vaddr " + hex(vaddr) +
                                     " to file offset " + hex(where->first));
    }
    const std::uint64_t count = memsz / sizeof(C::Dyn);
    std::vector<C::Dyn> entries = readTable<C::Dyn>(file, where->first, count, [] { return std::string("the dynamic section"); });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (static_cast<std::int64_t>(entries[i].d_tag.value()) == DT_NULL) {
            entries.resize(i);
            return entries;
        }
    }
    refuse(Refusal::Damaged, "the dynamic section's " + dec(count) + " entries end without DT_NULL");
}

std::optional<std::uint64_t> valueOf(const std::vector<C::Dyn>& entries, std::int64_t tag) {
    for (const auto& entry : entries) {
        if (static_cast<std::int64_t>(entry.d_tag.value()) == tag) return entry.d_val.value();
    }
    return std::nullopt;
}

// Entries that hold an address, with the entry that holds the size of what is there (0: the
// size is not recorded; one byte is checked, or the fixed size of the table's header).
struct AddressEntry {
    std::int64_t tag;
    std::int64_t sizeTag;
    std::uint64_t minimumSize;
};
constexpr AddressEntry kAddressEntries[] = {
    {DT_STRTAB, DT_STRSZ, 1},        {DT_SYMTAB, 0, sizeof(C::Sym)},
    {DT_HASH, 0, 8},                 {DT_GNU_HASH, 0, 16},
    {DT_RELA, DT_RELASZ, 0},         {DT_REL, DT_RELSZ, 0},
    {DT_RELR, DT_RELRSZ, 0},         {DT_JMPREL, DT_PLTRELSZ, 0},
    {DT_INIT, 0, 1},                 {DT_FINI, 0, 1},
    {DT_INIT_ARRAY, DT_INIT_ARRAYSZ, 0}, {DT_FINI_ARRAY, DT_FINI_ARRAYSZ, 0},
    {DT_PREINIT_ARRAY, DT_PREINIT_ARRAYSZ, 0},
    {DT_VERSYM, 0, 2},               {DT_VERDEF, 0, 1},
    {DT_VERNEED, 0, 1},              {DT_PLTGOT, 0, 8},
};
// Entries that hold an offset into the dynamic string table.
constexpr std::int64_t kStringEntries[] = {DT_NEEDED, DT_SONAME, DT_RPATH, DT_RUNPATH};

void checkDynamicEntries(const Bytes& file, const Layout& layout, const std::vector<C::Dyn>& entries) {
    // The loader takes both tables for granted when it relocates.
    for (const std::int64_t required : {DT_STRTAB, DT_SYMTAB}) {
        const bool present = std::any_of(entries.begin(), entries.end(), [&](const C::Dyn& entry) {
            return static_cast<std::int64_t>(entry.d_tag.value()) == required;
        });
        if (!present) {
            refuse(Refusal::Damaged, "the dynamic section's " + dec(entries.size()) + " entries have no " + dynamicTagName(required));
        }
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto tag = static_cast<std::int64_t>(entries[i].d_tag.value());
        const std::uint64_t value = entries[i].d_val.value();
        for (const AddressEntry& kind : kAddressEntries) {
            if (kind.tag != tag) continue;
            const std::uint64_t size = kind.sizeTag != 0 ? valueOf(entries, kind.sizeTag).value_or(kind.minimumSize) : kind.minimumSize;
            if (!layout.fileOffsetOf(value, size)) {
                std::string what = "dynamic entry " + dec(i) + " (" + dynamicTagName(tag) + ") has d_ptr " + hex(value);
                if (kind.sizeTag != 0) what += " + " + dynamicTagName(kind.sizeTag) + " " + hex(size);
                refuse(Refusal::Damaged, what + ", which no PT_LOAD segment's file contents hold");
            }
        }
        if (tag == DT_FLAGS_1 && (value & DF_1_PIE) != 0) {
            refuse(Refusal::Foreign, "a position-independent executable (DT_FLAGS_1 has DF_1_PIE), not a shared library");
        }
    }
    // The names of needed libraries and search paths: inside the string table and terminated.
    const auto strtab = valueOf(entries, DT_STRTAB);
    const std::uint64_t strsz = valueOf(entries, DT_STRSZ).value_or(0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto tag = static_cast<std::int64_t>(entries[i].d_tag.value());
        if (std::find(std::begin(kStringEntries), std::end(kStringEntries), tag) == std::end(kStringEntries)) continue;
        const std::uint64_t offset = entries[i].d_val.value();
        const auto what = [&] { return "dynamic entry " + dec(i) + " (" + dynamicTagName(tag) + ") has d_val " + hex(offset); };
        if (!strtab) refuse(Refusal::Damaged, what() + " but the file has no DT_STRTAB");
        if (offset >= strsz) refuse(Refusal::Damaged, what() + " beyond DT_STRSZ " + hex(strsz));
        // The name a piece at a time: the table of a large library runs to megabytes.
        const std::uint64_t table = layout.fileOffsetOf(*strtab, strsz)->first;
        constexpr std::uint64_t kPiece = 256;
        for (std::uint64_t at = offset;; at += kPiece) {
            if (at >= strsz) refuse(Refusal::Damaged, what() + ", a name that does not end inside the string table");
            const std::string piece =
                file.readText(table + at, std::min(kPiece, strsz - at), [] { return std::string("DT_STRTAB"); });
            if (piece.find('\0') != std::string::npos) break;
        }
    }
}

// The file offset of a table the dynamic section points at, `size` bytes long, or a refusal.
std::uint64_t tableAt(const Layout& layout, std::uint64_t vaddr, std::uint64_t size, const std::string& what) {
    const auto where = layout.fileOffsetOf(vaddr, size);
    if (!where) {
        refuse(Refusal::Damaged, what + " at " + hex(vaddr) + " (" + hex(size) +
                                     " bytes) runs past the file contents of every PT_LOAD segment");
    }
    return where->first;
}

// The number of dynamic symbols, as the hash table the loader searches gives it; none when there
// is no hash table, or a GNU one that hashes no symbol (its symoffset then need not count them).
std::optional<std::uint64_t> symbolCount(const Bytes& file, const Layout& layout, const std::vector<C::Dyn>& entries) {
    const auto describe = [] { return std::string("the hash table"); };
    if (const auto hash = valueOf(entries, DT_HASH)) {
        const auto counts = readTable<Le32>(file, tableAt(layout, *hash, 8, "DT_HASH"), 2, describe);
        const std::uint64_t nbucket = counts[0].value(), nchain = counts[1].value();
        tableAt(layout, *hash, 4 * (2 + nbucket + nchain),
                "DT_HASH with nbucket " + dec(nbucket) + " and nchain " + dec(nchain));
        return nchain;
    }
    const auto gnu = valueOf(entries, DT_GNU_HASH);
    if (!gnu) return std::nullopt;
    const std::uint64_t at = tableAt(layout, *gnu, 16, "DT_GNU_HASH");
    const auto head = readTable<Le32>(file, at, 4, describe);
    const std::uint64_t nbuckets = head[0].value(), symoffset = head[1].value(), bloomSize = head[2].value();
    const std::uint64_t chains = 16 + 8 * bloomSize + 4 * nbuckets;
    tableAt(layout, *gnu, chains, "DT_GNU_HASH with " + dec(nbuckets) + " buckets and " + dec(bloomSize) + " bloom words");
    std::uint64_t last = 0;
    for (const Le32& bucket : readTable<Le32>(file, at + 16 + 8 * bloomSize, nbuckets, describe)) {
        last = std::max<std::uint64_t>(last, bucket.value());
    }
    if (last == 0) return std::nullopt;
    if (last < symoffset) {
        refuse(Refusal::Damaged, "DT_GNU_HASH has a bucket naming symbol " + dec(last) + ", below its symoffset " + dec(symoffset));
    }
    // The last bucket's chain runs to the last symbol; its end is marked by the low bit.
    for (std::uint64_t index = last;; ++index) {
        const std::uint64_t offset = chains + 4 * (index - symoffset);
        const std::uint64_t chain = file.read<Le32>(tableAt(layout, *gnu, offset + 4, "the DT_GNU_HASH chain of symbol " + dec(index)) + offset,
                                                    describe).value();
        if (chain & 1) return index + 1;
    }
}

// Walks `count` entries of `entrySize` bytes at `offset`, which lies inside the file, handing
// `visit(bytes, first, n)` the bytes of entries [first, first + n) a piece at a time: in place
// when the file is in memory, else read into one buffer that every piece reuses. The tables of a
// large library run to megabytes: neither a copy of a whole table nor a read per entry.
template <class Visit>
void walkTable(const Bytes& file, std::uint64_t offset, std::uint64_t count, std::size_t entrySize, const char* name,
               Visit&& visit) {
    if (count == 0) return;
    if (const unsigned char* memory = file.memory()) return visit(memory + offset, std::uint64_t{0}, count);
    constexpr std::uint64_t kPieceBytes = 48 * 1024;
    const std::uint64_t perPiece = std::max<std::uint64_t>(1, kPieceBytes / entrySize);
    const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(perPiece * entrySize);
    for (std::uint64_t first = 0; first < count; first += perPiece) {
        const std::uint64_t n = std::min(perPiece, count - first);
        file.readInto(offset + first * entrySize, buffer.get(), n * entrySize, [&] { return std::string(name); });
        visit(static_cast<const unsigned char*>(buffer.get()), first, n);
    }
}

template <class T>
T load(const unsigned char* at) noexcept {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A range the loader may write eight bytes in: every address of [start, start + span], where
// start + span does not overflow, so that one comparison tells an address inside it.
struct Writable {
    std::uint64_t start, span;
    static Writable of(std::uint64_t vaddr, std::uint64_t memsz) noexcept {  // memsz >= 8
        return {vaddr, std::min(memsz - 8, UINT64_MAX - vaddr)};
    }
    bool holds(std::uint64_t target) const noexcept { return target - start <= span; }
};

// The index of the first of the `n` relocations at `bytes` that writes outside every writable
// range or names a symbol at or above `symbolLimit` (at least 1: symbol 0 names none), or `n`
// when none does. `last` is the range the previous relocation wrote in, asked first:
// relocations come sorted by the address they write, mostly into one segment. This is the loop
// of a large library's check, hundreds of thousands of times.
template <std::size_t kEntrySize>
std::uint64_t firstBadRelocation(const unsigned char* bytes, std::uint64_t n, const std::vector<Writable>& writable,
                                 std::uint64_t symbolLimit, Writable& last) {
    if (writable.empty()) return 0;
    const auto index = [&](const unsigned char* entry) { return static_cast<std::uint64_t>(entry - bytes) / kEntrySize; };
    Writable current = last;
    const unsigned char* entry = bytes;
    const unsigned char* const end = bytes + n * kEntrySize;
    while (entry != end) {
        // The inner loop keeps its range in registers: the fewest instructions per entry.
        const std::uint64_t start = current.start, span = current.span;
        for (; entry != end; entry += kEntrySize) {
            // The offset and the info word start both forms.
            if (load<Le64>(entry).value() - start > span) break;
            if (C::symbolOf(load<Le64>(entry + 8).value()) >= symbolLimit) return index(entry);
        }
        if (entry == end) break;
        const std::uint64_t target = load<Le64>(entry).value();
        const auto found =
            std::find_if(writable.begin(), writable.end(), [&](const Writable& range) { return range.holds(target); });
        if (found == writable.end()) return index(entry);
        current = *found;
    }
    last = current;
    return n;
}

// The tables the loader walks while it relocates the library and looks names up: every symbol's
// name lies in the string table, and every relocation names a symbol that exists and writes
// inside a segment.
void checkTables(const Bytes& file, const Layout& layout, const std::vector<C::Dyn>& entries) {
    const std::optional<std::uint64_t> counted = symbolCount(file, layout, entries);
    const std::uint64_t symbols = counted.value_or(0);
    const auto symtab = valueOf(entries, DT_SYMTAB);
    if (symtab && symbols != 0) {
        const std::uint64_t strsz = valueOf(entries, DT_STRSZ).value_or(0);
        const std::uint64_t limit = std::max<std::uint64_t>(strsz, 1);
        const std::uint64_t at = tableAt(layout, *symtab, symbols * sizeof(C::Sym), "DT_SYMTAB of " + dec(symbols) + " symbols");
        walkTable(file, at, symbols, sizeof(C::Sym), "DT_SYMTAB", [&](const unsigned char* bytes, std::uint64_t first, std::uint64_t n) {
            for (std::uint64_t k = 0; k < n; ++k) {
                const std::uint64_t name = load<Le32>(bytes + k * sizeof(C::Sym) + offsetof(C::Sym, st_name)).value();
                if (name >= limit) {
                    refuse(Refusal::Damaged, "dynamic symbol " + dec(first + k) + " has st_name " + hex(name) +
                                                 " beyond DT_STRSZ " + hex(strsz));
                }
            }
        });
    }
    const bool textRelocations =
        valueOf(entries, DT_TEXTREL).has_value() || (valueOf(entries, DT_FLAGS).value_or(0) & DF_TEXTREL) != 0;
    // Where the loader may write eight bytes, decoded once rather than per relocation.
    std::vector<Writable> writableLoads;
    for (const Segment& load : layout.loads) {
        const std::uint64_t memsz = load.phdr.p_memsz.value();
        if ((textRelocations || (load.phdr.p_flags.value() & PF_W) != 0) && memsz >= 8) {
            writableLoads.push_back(Writable::of(load.vaddr(), memsz));
        }
    }
    // A symbol index at or above this is refused, unless it is 0 (no symbol); none is when no hash
    // table counts the symbols.
    const std::uint64_t symbolLimit = counted ? std::max<std::uint64_t>(symbols, 1) : UINT64_MAX;
    const auto checkRelocations = [&](std::int64_t tag, std::int64_t sizeTag, bool addends) {
        const auto where = valueOf(entries, tag);
        if (!where) return;
        const std::uint64_t entrySize = addends ? sizeof(C::Rela) : sizeof(C::Rel);
        const std::uint64_t size = valueOf(entries, sizeTag).value_or(0);
        const std::string name = dynamicTagName(tag);
        const std::uint64_t at = tableAt(layout, *where, size, name);
        file.require(at, size - size % entrySize, [&] { return name; });
        Writable last = writableLoads.empty() ? Writable{} : writableLoads.front();
        walkTable(file, at, size / entrySize, entrySize, name.c_str(), [&](const unsigned char* bytes, std::uint64_t first, std::uint64_t n) {
            const std::uint64_t bad = addends ? firstBadRelocation<sizeof(C::Rela)>(bytes, n, writableLoads, symbolLimit, last)
                                              : firstBadRelocation<sizeof(C::Rel)>(bytes, n, writableLoads, symbolLimit, last);
            if (bad == n) return;
            // Named only when refused: a large library has hundreds of thousands of relocations.
            const unsigned char* entry = bytes + bad * entrySize;
            const std::uint64_t target = load<Le64>(entry).value();
            const std::uint64_t symbol = C::symbolOf(load<Le64>(entry + 8).value());
            const std::string what = "relocation " + dec(first + bad) + " of " + name;
            // The loader writes there: a writable segment, unless the library asks for its text
            // to be made writable while it is relocated.
            if (std::none_of(writableLoads.begin(), writableLoads.end(), [&](const Writable& load) { return load.holds(target); })) {
                refuse(Refusal::Damaged, what + " writes at r_offset " + hex(target) + ", outside every writable PT_LOAD segment");
            }
            refuse(Refusal::Damaged, what + " names symbol " + dec(symbol) + " of the " + dec(symbols) + " the hash table counts");
        });
    };
    checkRelocations(DT_RELA, DT_RELASZ, true);
    checkRelocations(DT_REL, DT_RELSZ, false);
    checkRelocations(DT_JMPREL, DT_PLTRELSZ, valueOf(entries, DT_PLTREL).value_or(DT_RELA) == DT_RELA);
}

// The section headers are not needed to map the file, but a file whose section header table is
// missing has lost its end, and sections that do not sit where the segments map them show that
// the program headers were changed.
void checkSections(const Bytes& file, const C::Ehdr& ehdr, const Layout& layout) {
    const SectionHeaders<C> sections(file, ehdr);  // none when e_shoff is 0: allowed, nothing to compare
    for (std::uint64_t i = 1; i < sections.size(); ++i) {
        const C::Shdr section = sections[i];
        const std::uint64_t size = section.sh_size.value();
        if ((section.sh_flags.value() & SHF_ALLOC) == 0 || section.sh_type.value() == SHT_NOBITS || size == 0) continue;
        const std::uint64_t offset = sections.contents(i, section);
        const std::uint64_t addr = section.sh_addr.value();
        const auto where = layout.fileOffsetOf(addr, size);
        if (where && where->first != offset) {
            refuse(Refusal::Damaged, "section " + dec(i) + " has sh_addr " + hex(addr) + " and sh_offset " + hex(offset) +
                                         ", but program header " + dec(where->second->index) + " maps sh_addr to file offset " +
                                         hex(where->first));
        }
    }
}

void check(const Bytes& file, const LoadTarget& target) {
    checkIdentification(file);
    if (!file.contains(0, sizeof(C::Ehdr))) {
        refuse(Refusal::Damaged, "the file is " + hex(file.size()) + " bytes long, shorter than the ELF header (" +
                                     hex(sizeof(C::Ehdr)) + " bytes)");
    }
    const C::Ehdr ehdr = header<C>(file);
    checkHeader(ehdr, target);
    const Layout layout = readSegments(file, ehdr);
    const std::vector<C::Dyn> entries = readDynamic(file, layout);
    checkDynamicEntries(file, layout, entries);
    checkTables(file, layout, entries);
    checkSections(file, ehdr, layout);
}

}  // namespace

LoadTarget LoadTarget::host() noexcept {
#if defined(__x86_64__) || defined(_M_X64)
    return {EM_X86_64};
#elif defined(__aarch64__) || defined(_M_ARM64)
    return {EM_AARCH64};
#else
#error "objfile: name this machine's e_machine"
#endif
}

LoadCheck checkLoadable(const Bytes& file, const LoadTarget& target) noexcept {
    try {
        check(file, target);
        return {};
    } catch (const Refused& refused) {
        return {refused.refusal, refused.reason};
    } catch (const FormatError& error) {
        return {Refusal::Damaged, error.what()};
    } catch (const std::exception& error) {
        return {Refusal::Unreadable, error.what()};  // memory for a message or a table ran out
    }
}

LoadCheck checkLoadable(const std::filesystem::path& path, const LoadTarget& target) noexcept {
    try {
        const FileBytes file(path);
        return checkLoadable(file, target);
    } catch (const std::exception& error) {
        return {Refusal::Unreadable, error.what()};
    }
}

}  // namespace objfile
