#include "loader/orb_file_reader.hpp"

#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "capi/callback_table.hpp"
#include "capi/message_ids.hpp"
#include "capi/raise.hpp"
#include "capi/scopes.hpp"
#include "cppapi/engine_handle.hpp"
#include "host/dispatcher.hpp"
#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "host/ry.hpp"
#include "host/services.hpp"
#include "host/ut.hpp"
#include "loader/thread_pool_admission.hpp"
#include "loader/cpp_lifecycle.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/entry_points.hpp"
#include "orbfile/version.hpp"
#include "orbfile/version_function.hpp"
#include "platform/library_handle.hpp"
#include "platform/module_boundary.hpp"
#include "platform/startup_probe.hpp"

namespace orb::capi {
template class PerEngine<OrbFileReaderPerEngine>;
}

namespace {

using orb::capi::PerEngine;

// Asked only in tasks mode: C++ modules, with thread-pool support switched on.
bool admittedToThreadPool(const std::u16string& path) { return orb::loader::allowThisOrbOnThreadPool(path); }

// The entry-point rule answers the load record's kinds.
static_assert(int(orbfile::EntryPoints::C) == int(kOrbEntryC) && int(orbfile::EntryPoints::Cpp) == int(kOrbEntryCpp) &&
              int(orbfile::EntryPoints::Fortran) == int(kOrbEntryFortran));

// Files that passed the check before mapping, by identity: loading one again costs the stat
// that took its identity. Never destroyed: loads may run during exit.
struct CheckedFiles {
    std::mutex mutex;
    std::set<orb::platform::FileIdentity> files;
};

CheckedFiles& checkedFiles() {
    static CheckedFiles* checked = new CheckedFiles;
    return *checked;
}

// The system loader trusts the file it maps and faults on a damaged one: nothing is mapped that
// has not been read and checked first, now or, for a file that has not changed since, earlier.
objfile::LoadCheck checkBeforeMapping(const std::string& native, const std::optional<orb::platform::FileIdentity>& identity) {
    CheckedFiles& checked = checkedFiles();
    const bool remembered = identity && identity->settled;
    if (remembered) {
        const std::lock_guard lock(checked.mutex);
        if (checked.files.count(*identity)) return {};
    }
    objfile::LoadCheck check = objfile::checkLoadable(std::filesystem::path(native));
    if (check && remembered) {
        try {
            const std::lock_guard lock(checked.mutex);
            checked.files.insert(*identity);
        } catch (const std::bad_alloc&) {
            // Not remembered: the next load checks it again.
        }
    }
    return check;
}

// Load records come from the host's heap; one owned by the load until it is handed on.
struct FreeRecord {
    void operator()(impl_info_tag* record) const noexcept {
        orb::loader::forgetModuleUnderConstruction(record);
        host::utFree(record);
    }
};
using RecordPtr = std::unique_ptr<impl_info_tag, FreeRecord>;

// Libraries of modules whose code faulted stay mapped for the life of the process, their code
// retired: unloading runs the library's finalisers, module code that may be damaged (or, for a
// file rewritten in place, no longer the code that was mapped).
void quarantineLibrary(void* library) noexcept { orb::platform::retireLibraryCode(library); }

// Why a module failed while it loaded, as the loader reports it.
[[noreturn]] void refuse(const std::string& reason) {
    std::u16string text;
    try {
        text = host::i18n::to_ustring(reason);
    } catch (const std::exception&) {
        for (unsigned char c : reason) text.push_back(c < 0x80 ? char16_t(c) : u'?');
    }
    throw host::LibraryLoadException(std::move(text));
}

// The module code of a failed load: a fault leaves the library mapped for good, anything else
// lets it go with the handle.
[[noreturn]] void refuseAfter(const char* what, const orb::platform::ModuleOutcome& outcome,
                              orb::platform::LibraryHandle& library) {
    using Kind = orb::platform::ModuleOutcome::Kind;
    if (outcome.kind() == Kind::MachineFault || outcome.kind() == Kind::Abort) quarantineLibrary(library.release());
    refuse(std::string(what) + " failed: " + outcome.describe());
}

// Maps the module file for this process: its start-up code proved in a child process, then
// mapped with every symbol resolved. Null, with the host loader's reason for this thread, when
// the file cannot be mapped; raises host::LibraryLoadException when the proof failed.
orb::platform::LibraryHandle mapModuleFile(const std::u16string& path, const std::string& native,
                                          const std::optional<orb::platform::FileIdentity>& identity) {
    using Verdict = orb::platform::StartupVerdict;
    // The system loader hands back a library it has mapped already, however the file changed
    // since. A quarantined one is never handed out again: its file is mapped from a copy.
    if (orb::platform::anyLibraryRetired() && orb::platform::libraryRetired(orb::platform::mappedLibrary(native))) {
        // A copy is a new file; should the system loader still recognise it as a quarantined
        // one (a freed inode number reused), the next copy is another new file.
        for (int attempt = 0; attempt < 4; ++attempt) {
            std::string copy;
            try {
                copy = orb::platform::makePrivateCopy(native);
            } catch (const std::exception& error) {
                refuse(error.what());
            }
            const auto verdict = orb::platform::proveStartupCode(copy);
            orb::platform::LibraryHandle library;
            if (verdict.kind != Verdict::Failed) {
                library = orb::platform::LibraryHandle(
                    orb::platform::loadLibraryLocally(host::i18n::to_ustring(copy), nullptr));
            }
            orb::platform::removePrivateCopy(copy);
            if (verdict.kind == Verdict::Failed) refuse(verdict.reason);
            if (!orb::platform::libraryRetired(library.get())) return library;
        }
        refuse("its earlier mapping faulted and a fresh one could not be made");
    }
    // A file the system loader refuses outright is left to the host loader, which then gives the
    // reason itself; one whose start-up code failed is never mapped here.
    const auto verdict =
        identity ? orb::platform::proveStartupCode(native, *identity) : orb::platform::proveStartupCode(native);
    if (verdict.kind == Verdict::Failed) refuse(verdict.reason);
    return orb::platform::LibraryHandle(orb::platform::loadLibraryLocally(path, nullptr));
}

template <class Tag, class... Args>
void printCatalogueLine(Args&&... args) {
    std::u16string text = host::i18n::GetFormattedMessage(orb::capi::messageIdentifier<Tag>(),
                                                          {host::MessageArg(std::forward<Args>(args))...});
    host::utPrintf("%s\n", host::i18n::to_string(text).c_str());
}

// The name the module is being called under, as the host reports it (UTF-8). A name that is not
// UTF-8 keeps its bytes, each as one character.
std::u16string calledFunctionName() {
    auto name = orb::capi::installedSlot(&orb::capi::CallbackSlots::functionName);
    const char* text = name ? name() : nullptr;
    if (!text) return {};
    try {
        return host::i18n::to_ustring(text);
    } catch (const std::exception&) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text);
        return std::u16string(bytes, bytes + std::strlen(text));
    }
}

void announceLoad(const std::u16string& path, void* entry) {
    std::ostringstream address;
    address << entry;
    printCatalogueLine<VELTRA::orb::OrbLoaded>(host::i18n::to_string(path), address.str());
    printCatalogueLine<VELTRA::orb::IssueContinue>();
}

}  // namespace

OrbFileReader::~OrbFileReader() = default;

impl_info_tag* OrbFileReader::loadOrb(const char16_t* path, const char* /*functionName*/, int* status) {
    *status = kOrbLoadOk;
    RecordPtr record(static_cast<impl_info_tag*>(host::utCalloc(1, sizeof(impl_info_tag))));
    if (!record) {
        *status = kOrbLoadOutOfMemory;
        return nullptr;
    }
    const std::u16string fullPath(path);
    if (host::svIsTasksMode() && !admittedToThreadPool(fullPath)) {
        record->entryKind = kOrbEntryRefused;
        return record.release();
    }

    // The file is validated, probed (its start-up code run first in a child process), then mapped.
    std::string native;
    try {
        native = host::fs::nativePath(fullPath);
    } catch (const host::fs::FilesystemError& error) {
        orb::capi::raiseError<VELTRA::orb::ErrInvalidORBFile>(fullPath, std::string(error.what()));
    }
    const std::optional<orb::platform::FileIdentity> identity = orb::platform::identifyFile(native);
    if (const objfile::LoadCheck check = checkBeforeMapping(native, identity); !check) {
        orb::capi::raiseError<VELTRA::orb::ErrInvalidORBFile>(fullPath, check.reason);
    }
    orb::platform::LibraryHandle library = mapModuleFile(fullPath, native, identity);
    if (!library) return nullptr;

    // First, because a module built for an interface newer than this release is told so whatever
    // else is wrong with it.
    orb::platform::ModuleOutcome version;
    orbfile::readModuleVersionFunction(library.get(), record->builtRelease, record->targetApiVersion, &version);
    if (!version) refuseAfter("its version function", version, library);
    // Only an interface newer than every one this release knows is refused; the version's texts
    // are made only for such a module.
    if (record->builtRelease != 0 &&
        record->targetApiVersion > orbfile::Version::apitag2apinum(orbfile::Version::R2018a)) {
        const orbfile::Version declared(record->builtRelease, record->targetApiVersion);
        std::u16string builtFor;
        if (declared.is_incompatible_api() && declared.get_buildrel_string(builtFor)) {
            orb::capi::raiseError<VELTRA::orb::MsgIncompatRel>(fullPath, builtFor);
        }
    }

    // A handle made for a C++ module and not yet fetched by it is released with the load.
    struct UnfetchedHandle {
        void* handle = nullptr;
        ~UnfetchedHandle() { orbDestroyFunctionImpl(handle); }
    } engineHandle;
    const orbfile::EntryPoints found = orbfile::resolveEntryPoints(
        [&library](const char* name) -> const void* { return host::utFindSymbolInLibrary(library.get(), name); });
    switch (found.outcome) {
        case orbfile::EntryPoints::Found:
            break;
        case orbfile::EntryPoints::MissingCppEntry:
            *status = kOrbLoadMissingCppEntry;
            return nullptr;
        case orbfile::EntryPoints::NoEntryPoint:
            *status = kOrbLoadNoEntryPoint;
            return nullptr;
    }
    record->entry = const_cast<void*>(found.entry);
    record->entryKind = found.kind;
    if (found.kind == orbfile::EntryPoints::Cpp) {
        record->createFunction = const_cast<void*>(found.create);
        record->destroyFunction = const_cast<void*>(found.destroy);
        engineHandle.handle = record->engineHandle = orb::cppapi::makeEngineHandle(calledFunctionName());
    }

    record->library = library.get();
    if (PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate().debugFlag != 0) {
        announceLoad(fullPath, record->entry);
    }
    if (record->createFunction) {
        // The module makes its function object now, fetching its engine handle meanwhile; from
        // then on the handle is its object's to release.
        auto& info = PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate();
        info.moduleUnderConstruction = record.get();
        engineHandle.handle = nullptr;
        const orb::platform::ModuleOutcome created = orb::loader::createCppFunction(record.get());
        if (!created) refuseAfter("its create entry point (orbCreateOrbFunction)", created, library);
        if (!record->cppFunction) {
            orb::loader::raisePendingError();
            // Nothing reported: the reason is that no function object was made.
            refuse(host::i18n::to_string(
                host::i18n::get_message(orb::capi::messageIdentifier<VELTRA::orb::MsgNoFunctionObject>())));
        }
    }
    library.release();
    return record.release();
}

void inSetOrbfileReader(std::unique_ptr<OrbFileReader> reader) {
    using Record = PerEngine<OrbFileReaderPerEngine>;
    if (!reader) {
        host::storage::erase(Record::key(), typeid(OrbFileReaderPerEngine));
        return;
    }
    Record::getOrCreate().reader = std::move(reader);
}

namespace orb::loader {

namespace {

bool faulted(const platform::ModuleOutcome& outcome) {
    using Kind = platform::ModuleOutcome::Kind;
    return outcome.kind() == Kind::MachineFault || outcome.kind() == Kind::Abort;
}

// Tells the user why a cleared module's library stays mapped.
void warnKeptMapped(const platform::UnloadVerdict& kept) noexcept {
    try {
        if (kept.kind == platform::UnloadVerdict::Failed) {
            host::ryWarningMsgId(host::MsgIdException<VELTRA::orb::UnloadCodeFailed>(kept.library, kept.reason));
        } else {
            host::ryWarningMsgId(host::MsgIdException<VELTRA::orb::UnloadCodeWaits>(kept.library, kept.reason));
        }
    } catch (...) {
        // A warning the host cannot take: the module stays mapped all the same.
    }
}

// Unmaps the record's library unless the module is locked or was never mapped, and frees it. A
// library whose unload code fails (proved in a copy of the process) stays mapped, with a warning.
void releaseRecord(impl_info_tag* record) noexcept {
    forgetModuleUnderConstruction(record);
    if (!record->locked && record->entryKind != kOrbEntryRefused) {
        const platform::UnloadVerdict unloaded = platform::unloadLibrary(record->library);
        if (unloaded.kind != platform::UnloadVerdict::Unloaded) warnKeptMapped(unloaded);
    }
    host::utFree(record);
}

}  // namespace

void abandonFaultedRecord(impl_info_tag* record) noexcept {
    if (!record) return;
    if (record->entryKind != kOrbEntryRefused) quarantineLibrary(record->library);
    forgetModuleUnderConstruction(record);
    host::utFree(record);
}

int clearLoadRecord(impl_info_tag* record) {
    if (!record) return 0;  // nothing to clear
    capi::FloatingPointScope fpScope;
    if (record->exitFunction) {
        const platform::ModuleOutcome ended = platform::callModuleCode(record->exitFunction);
        if (!ended) {
            // Failed, the module gets no further call: its destroy entry does not run either.
            if (faulted(ended)) {
                abandonFaultedRecord(record);
            } else {
                releaseRecord(record);
            }
            ended.raise();
        }
    }
    if (record->cppFunction) {
        // The clear frame made this record the current module.
        const platform::ModuleOutcome destroyed = destroyCppFunction();
        if (faulted(destroyed)) {
            abandonFaultedRecord(record);
        } else {
            releaseRecord(record);
        }
        destroyed.raise();
        raisePendingError();
        return 1;
    }
    releaseRecord(record);
    return 1;
}

}  // namespace orb::loader
