#include "loader/orb_file_reader.hpp"

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "capi/callback_table.hpp"
#include "capi/message_ids.hpp"
#include "capi/raise.hpp"
#include "capi/scopes.hpp"
#include "cppapi/engine_handle.hpp"
#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "host/services.hpp"
#include "host/ut.hpp"
#include "loader/thread_pool_admission.hpp"
#include "loader/cpp_lifecycle.hpp"
#include "objfile/loadable.hpp"
#include "orbfile/entry_points.hpp"
#include "orbfile/version_function.hpp"
#include "platform/fault_guard.hpp"

namespace orb::capi {
template class PerEngine<OrbFileReaderPerEngine>;
}

namespace {

using orb::capi::PerEngine;

// Asked only in tasks mode: C++ modules, with thread-pool support switched on.
bool admittedToThreadPool(const std::u16string& path) { return orb::loader::allowThisOrbOnThreadPool(path); }

// The entry-point rule answers the load record's kinds.
static_assert(orbfile::EntryPoints::C == kOrbEntryC && orbfile::EntryPoints::Cpp == kOrbEntryCpp &&
              orbfile::EntryPoints::Fortran == kOrbEntryFortran);

// The system loader trusts the file it maps and faults on a damaged one: nothing is mapped that
// has not been read and checked first.
objfile::LoadCheck checkBeforeMapping(const std::u16string& path) {
    try {
        return objfile::checkLoadable(std::filesystem::path(host::fs::nativePath(path)));
    } catch (const host::fs::FilesystemError& error) {
        return {objfile::Refusal::Unreadable, error.what()};
    }
}

void releaseRecord(impl_info_tag* record) {
    if (!record->locked && record->entryKind != kOrbEntryRefused) host::utUnloadLibrary(record->library);
    host::utFree(record);
}

// A failed load leaves nothing behind: no record, no library.
impl_info_tag* abandon(impl_info_tag* record, void* library, int* status, int reason) {
    host::utFree(record);
    host::utUnloadLibrary(library);
    *status = reason;
    return nullptr;
}

template <class Tag, class... Args>
void printCatalogueLine(Args&&... args) {
    std::u16string text = host::i18n::GetFormattedMessage(orb::capi::messageIdentifier<Tag>(),
                                                          {host::MessageArg(std::forward<Args>(args))...});
    host::utPrintf("%s\n", host::i18n::to_string(text).c_str());
}

// The name the module is being called under, as the host reports it (ASCII).
std::u16string calledFunctionName() {
    auto name = orb::capi::installedSlot(&orb::capi::CallbackSlots::functionName);
    const char* text = name ? name() : nullptr;
    return text ? std::u16string(text, text + std::strlen(text)) : std::u16string();
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
    auto* record = static_cast<impl_info_tag*>(host::utCalloc(1, sizeof(impl_info_tag)));
    if (!record) {
        *status = kOrbLoadOutOfMemory;
        return nullptr;
    }
    const std::u16string fullPath(path);
    if (host::svIsTasksMode() && !admittedToThreadPool(fullPath)) {
        record->entryKind = kOrbEntryRefused;
        return record;
    }

    if (const objfile::LoadCheck check = checkBeforeMapping(fullPath); !check) {
        host::utFree(record);
        orb::capi::raiseError<VELTRA::orb::ErrInvalidORBFile>(fullPath, check.reason);
    }
    void* library = host::utLoadLibraryWithLocalSymbolVisibility(fullPath, nullptr);
    if (!library) {
        host::utFree(record);
        return nullptr;
    }

    const orbfile::EntryPoints found = orbfile::resolveEntryPoints(
        [library](const char* name) -> const void* { return host::utFindSymbolInLibrary(library, name); });
    switch (found.outcome) {
        case orbfile::EntryPoints::Found: break;
        case orbfile::EntryPoints::MissingCppEntry: return abandon(record, library, status, kOrbLoadMissingCppEntry);
        case orbfile::EntryPoints::NoEntryPoint: return abandon(record, library, status, kOrbLoadNoEntryPoint);
    }
    record->entry = const_cast<void*>(found.entry);
    record->entryKind = found.kind;
    if (found.kind == orbfile::EntryPoints::Cpp) {
        record->engineHandle = orb::cppapi::makeEngineHandle(calledFunctionName());
        record->createFunction = const_cast<void*>(found.create);
        record->destroyFunction = const_cast<void*>(found.destroy);
    }

    record->library = library;
    if (PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate().debugFlag != 0) {
        announceLoad(fullPath, record->entry);
    }
    try {
        // Runs module code; a fault in it is the module's failure to load.
        orbfile::readModuleVersionFunction(library, record->builtRelease, record->targetApiVersion);
    } catch (...) {
        orbDestroyFunctionImpl(record->engineHandle);
        abandon(record, library, status, kOrbLoadOk);
        throw;
    }
    if (record->createFunction) {
        // The module makes its function object now; it fetches its engine handle meanwhile.
        auto& info = PerEngine<orb::capi::CurrentOrbInfoPerEngine>::getOrCreate();
        info.moduleUnderConstruction = record;
        int failed = 1;
        try {
            failed = orbRunCreateOrbFunction();
        } catch (...) {
            // The handle is the module's now: its function object releases it when it goes.
            abandon(record, library, status, kOrbLoadOk);
            throw;
        }
        if (failed) {
            abandon(record, library, status, kOrbLoadOk);
            orb::loader::raisePendingError();
            return nullptr;
        }
    }
    return record;
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

int clearLoadRecord(impl_info_tag* record) {
    capi::FloatingPointScope fpScope;
    if (record->exitFunction) {
        try {
            platform::callGuarded(record->exitFunction);
        } catch (...) {
            releaseRecord(record);
            throw;
        }
    }
    if (record->cppFunction) {
        // The clear frame made this record the current module.
        try {
            destroyCppFunction();
        } catch (...) {
            releaseRecord(record);
            throw;
        }
        releaseRecord(record);
        raisePendingError();
        return 1;
    }
    releaseRecord(record);
    return 1;
}

}  // namespace orb::loader
