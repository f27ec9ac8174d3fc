// `orb check`'s verdict (orbfile::checkModule) against the loader's answer, over a corpus of good
// and bad files: every test module, hostile ones included, and files made from one good module by
// cutting it short and by patching its headers. A file has no error finding if and only if it
// loads and its entry point is found; only findings about interface generations, which the loader
// does not check, may stand against a module that loads.
// Inspections and loads run in forked copies of the test, so a file that slips past the checks
// and makes the system loader fault fails its row instead of the whole test.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <set>

#include "host/i18n.hpp"
#include "inspect/inspect_support.hpp"
#include "loader/loader_support.hpp"
#include "objfile/elf.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/module_verdict.hpp"
#include "platform/isolated_call.hpp"

namespace {

using namespace inspecttest;
using Bytes = std::vector<unsigned char>;
namespace elf = objfile::elf;
namespace fs = std::filesystem;

struct Answer {
    bool completed = false;
    bool ok = false;         // the inspection found no error / the module loaded with its entry point
    std::string detail;      // the first finding and its reason / the error identifier and message
};

Answer isolated(const std::function<int(std::string&)>& work, const std::string& what) {
    const auto outcome = orb::platform::runIsolated(work, 30);
    if (!outcome.completed) return {false, false, what + " ended with " + orb::platform::describeFailure(outcome, 30)};
    return {true, outcome.status == 0, outcome.output};
}

Answer inspect(const std::string& path) {
    return isolated(
        [&](std::string& out) {
            const orbfile::ModuleVerdict verdict = orbfile::checkModule(widen(path), {false, true});
            for (const auto& finding : verdict.findings()) {
                out += finding.id + ": " + host::i18n::to_string(finding.reason) + "\n";
            }
            return verdict.has_error() ? 1 : 0;
        },
        "the inspection");
}

Answer load(const std::string& path) {
    return isolated(
        [&](std::string& out) {
            orbtest::TestModule module(path);
            try {
                module.function().module()->load();
            } catch (const host::UserException& error) {
                out = error.identifier() + ": " + error.message();
                return 1;
            }
            const impl_info_tag* record = module.function().loadRecord();
            return record != nullptr && record->entry != nullptr ? 0 : 2;
        },
        "the load");
}

// Findings about interface generations and versions, which the loader does not check: such a
// module may load, and the inspection still says it must not be used.
const std::set<std::string> kPolicyFindings = {"ELNKAPI", "EVERAPI", "EUNKAPI", "ELNKCPP", "ENOEVER"};

// No error: it loads with its entry point. An error the loader also makes: it does not load.
void expectAgreement(const std::string& file, const Answer& verdict, const Answer& loaded) {
    ASSERT_TRUE(verdict.completed && loaded.completed) << file << "\n" << verdict.detail << "\n" << loaded.detail;
    const std::string finding = verdict.detail.substr(0, verdict.detail.find(':'));
    if (!verdict.ok && kPolicyFindings.count(finding)) return;
    EXPECT_EQ(verdict.ok, loaded.ok) << file << "\n  inspection: " << verdict.detail << "\n  load: " << loaded.detail;
}

class VerdictAgreesWithLoader : public orbtest::LoaderTest {};

TEST_F(VerdictAgreesWithLoader, OnEveryTestModule) {
    std::size_t modules = 0;
    for (const auto& entry : fs::directory_iterator(ORB_TEST_MODULE_DIR)) {
        if (entry.path().extension() != ".orbw64") continue;
        const std::string path = entry.path().string();
        expectAgreement(path, inspect(path), load(path));
        ++modules;
    }
    EXPECT_GE(modules, 60u);
    // A C++ module whose create entry point makes no function object is refused for that reason.
    const Answer noObject = inspect(modulePath("shape_cpp_and_c"));
    EXPECT_TRUE(noObject.detail.starts_with("ESTARTUP: ") &&
                noObject.detail.find("orbCreateOrbFunction") != std::string::npos)
        << noObject.detail;
}

// --- files made from one good module ---------------------------------------------------------

void put(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes.at(offset + i) = static_cast<unsigned char>(value >> (8 * i));
}

elf::Elf64_Ehdr headerOf(const Bytes& bytes) {
    elf::Elf64_Ehdr ehdr;
    std::memcpy(&ehdr, bytes.data(), sizeof ehdr);
    return ehdr;
}

// The offset of the first program header of `type` (the nth of that type when `nth` > 0).
std::size_t programHeader(const Bytes& bytes, std::uint32_t type, int nth = 0) {
    const auto ehdr = headerOf(bytes);
    for (std::size_t i = 0; i < ehdr.e_phnum.value(); ++i) {
        const std::size_t at = ehdr.e_phoff.value() + i * sizeof(elf::Elf64_Phdr);
        elf::Elf64_Phdr phdr;
        std::memcpy(&phdr, bytes.data() + at, sizeof phdr);
        if (phdr.p_type.value() == type && nth-- == 0) return at;
    }
    throw std::runtime_error("no such program header");
}
constexpr std::size_t kPOffset = offsetof(elf::Elf64_Phdr, p_offset);

// The file offset of the dynamic entry with `tag` (the dynamic section lies where its segment
// says, in the good module).
std::size_t dynamicEntry(const Bytes& bytes, std::int64_t tag) {
    elf::Elf64_Phdr dynamic;
    std::memcpy(&dynamic, bytes.data() + programHeader(bytes, elf::PT_DYNAMIC), sizeof dynamic);
    for (std::size_t at = dynamic.p_offset.value(); at < dynamic.p_offset.value() + dynamic.p_filesz.value();
         at += sizeof(elf::Elf64_Dyn)) {
        elf::Elf64_Dyn entry;
        std::memcpy(&entry, bytes.data() + at, sizeof entry);
        if (static_cast<std::int64_t>(entry.d_tag.value()) == tag) return at;
    }
    throw std::runtime_error("no such dynamic entry");
}

TEST_F(VerdictAgreesWithLoader, OnFilesCutShortOrPatched) {
    const Bytes good = readBytes(modulePath("shape_c"));
    ScratchDir dir;
    struct Row {
        std::string name;
        Bytes bytes;
        std::string finding;  // the inspection's error ("" for none)
        std::string reason;   // a part of the reason both the finding and the load error carry
    };
    std::vector<Row> rows = {{"good", good, "", ""}};
    const auto patched = [&](std::size_t offset, std::uint64_t value, std::size_t size) {
        Bytes bytes = good;
        put(bytes, offset, value, size);
        return bytes;
    };
    const auto shifted = [&](std::size_t phdr, std::uint64_t by) {
        Bytes bytes = good;
        std::uint64_t offset = 0;
        std::memcpy(&offset, bytes.data() + phdr + kPOffset, 8);
        put(bytes, phdr + kPOffset, offset + by, 8);
        return bytes;
    };
    const auto ehdr = headerOf(good);
    const std::size_t firstLoad = programHeader(good, elf::PT_LOAD);
    const std::size_t dynamicLoad = programHeader(good, elf::PT_LOAD, 3);
    rows.push_back({"class32", patched(elf::EI_CLASS, elf::ELFCLASS32, 1), "EPLATFM", "a 32-bit ELF file"});
    rows.push_back({"class7", patched(elf::EI_CLASS, 7, 1), "EBADBIN", "e_ident[EI_CLASS] 7 names no ELF class"});
    rows.push_back({"bigendian", patched(elf::EI_DATA, elf::ELFDATA2MSB, 1), "EPLATFM", "big-endian"});
    rows.push_back({"aarch64", patched(offsetof(elf::Elf64_Ehdr, e_machine), elf::EM_AARCH64, 2), "EPLATFM",
                    "built for AArch64 (e_machine 183), not x86-64"});
    rows.push_back({"exec", patched(offsetof(elf::Elf64_Ehdr, e_type), elf::ET_EXEC, 2), "EPLATFM", "an executable"});
    rows.push_back({"object", patched(offsetof(elf::Elf64_Ehdr, e_type), elf::ET_REL, 2), "EPLATFM", "an object file"});
    rows.push_back({"phoff_end", patched(offsetof(elf::Elf64_Ehdr, e_phoff), good.size() - 8, 8), "EBADBIN",
                    "the program header table at e_phoff " + objfile::hex(good.size() - 8)});
    rows.push_back({"phoff_huge", patched(offsetof(elf::Elf64_Ehdr, e_phoff), ~0ull - 8, 8), "EBADBIN", "overflows"});
    rows.push_back({"shoff_end", patched(offsetof(elf::Elf64_Ehdr, e_shoff), good.size() - 64, 8), "EBADBIN",
                    "the section header table"});
    rows.push_back({"load_beyond", shifted(dynamicLoad, 0x100000), "EBADBIN", "beyond the file size"});
    rows.push_back({"load_moved", shifted(dynamicLoad, 0x1000), "EBADBIN", "maps its p_vaddr"});
    // Which table is found wrong first depends on the build's layout (a sanitizer build's differs).
    rows.push_back({"first_load_moved", shifted(firstLoad, 0x1000), "EBADBIN", ""});
    rows.push_back({"no_symtab", patched(dynamicEntry(good, elf::DT_SYMTAB), 0x6FFF0000, 8), "EBADBIN", "have no DT_SYMTAB"});
    {
        // The first relocation made to write into the read-only first segment (whose addresses
        // are its file offsets).
        elf::Elf64_Dyn rela;
        std::memcpy(&rela, good.data() + dynamicEntry(good, elf::DT_RELA), sizeof rela);
        rows.push_back({"reloc_readonly", patched(rela.d_val.value(), 0x40, 8), "EBADBIN",
                        "writes at r_offset 0x40, outside every writable PT_LOAD segment"});
    }
    // Cut short anywhere: inside the identification, the header, the program headers, the
    // segments, the tables at the end.
    for (std::size_t length : {std::size_t{10}, std::size_t{63}, std::size_t{64}, std::size_t{3000}}) {
        rows.push_back({"cut" + std::to_string(length), Bytes(good.begin(), good.begin() + length), "EBADBIN", ""});
    }
    for (std::size_t length = 100; length < good.size(); length += good.size() / 37) {
        rows.push_back({"cut" + std::to_string(length), Bytes(good.begin(), good.begin() + length), "EBADBIN", ""});
    }
    ASSERT_EQ(ehdr.e_shoff.value() + ehdr.e_shnum.value() * sizeof(elf::Elf64_Shdr), good.size())
        << "the cut rows expect the section headers to end the file";

    for (const Row& row : rows) {
        const std::string path = dir.write(row.name + ".orbw64", row.bytes);
        const Answer verdict = inspect(path);
        const Answer loaded = load(path);
        expectAgreement(row.name, verdict, loaded);
        if (!verdict.completed || !loaded.completed) continue;
        if (row.finding.empty()) {
            EXPECT_EQ(verdict.detail, "") << row.name;
            continue;
        }
        EXPECT_EQ(verdict.detail.substr(0, verdict.detail.find(':')), row.finding) << row.name;
        EXPECT_TRUE(loaded.detail.starts_with("VELTRA:orb:ErrInvalidORBFile: ")) << row.name << ": " << loaded.detail;
        // Both name what is wrong in the same words.
        const std::string reason = objfile::checkLoadable(fs::path(path)).reason;
        EXPECT_NE(reason, "") << row.name;
        EXPECT_NE(reason.find(row.reason), std::string::npos) << row.name << ": " << reason;
        EXPECT_NE(verdict.detail.find(reason), std::string::npos) << row.name << ": " << verdict.detail;
        EXPECT_NE(loaded.detail.find(reason), std::string::npos) << row.name << ": " << loaded.detail;
    }
}

}  // namespace
