// The exported names of the services as the dynamic symbol table of liborb shows them: every
// Fortran and versioned spelling is there, the names of one entry share one address, and entries
// that behave differently are different code.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_child.hpp"

namespace {

// Each row is one entry: every name in it must be the same address.
const std::vector<std::vector<std::string>> kEntries = {
    // Fortran names.
    {"ORBATEXIT", "ORBATEXIT800", "orbatexit_", "orbatexit700_", "orbatexit730_", "orbatexit800_"},
    {"ORBCALLVELTRA", "orbcallveltra_"},
    {"ORBCALLVELTRA800", "orbcallveltra800_"},
    {"ORBCALLVELTRAWITHTRAP", "orbcallveltrawithtrap_"},
    {"ORBCALLVELTRAWITHTRAP800", "orbcallveltrawithtrap800_"},
    {"ORBERRMSGIDANDTXT", "ORBERRMSGIDANDTXT800", "orberrmsgidandtxt_", "orberrmsgidandtxt700_",
     "orberrmsgidandtxt730_", "orberrmsgidandtxt800_"},
    {"ORBERRMSGTXT", "ORBERRMSGTXT800", "orberrmsgtxt_", "orberrmsgtxt700_", "orberrmsgtxt730_", "orberrmsgtxt800_"},
    {"ORBEVALSTRING", "orbevalstring_"},
    {"ORBEVALSTRING800", "orbevalstring800_"},
    {"ORBEVALSTRINGWITHTRAP", "orbevalstringwithtrap_"},
    {"ORBEVALSTRINGWITHTRAP800", "orbevalstringwithtrap800_"},
    {"ORBFUNCTIONNAME", "ORBFUNCTIONNAME800", "orbfunctionname_", "orbfunctionname700_", "orbfunctionname730_",
     "orbfunctionname800_"},
    {"ORBGETVARIABLE", "orbgetvariable_"},
    {"ORBGETVARIABLE800", "orbgetvariable800_"},
    {"ORBGETVARIABLEPTR", "orbgetvariableptr_"},
    {"ORBGETVARIABLEPTR800", "orbgetvariableptr800_"},
    {"ORBPUTVARIABLE", "orbputvariable_"},
    {"ORBPUTVARIABLE800", "orbputvariable800_"},
    {"ORBISGLOBAL", "ORBISGLOBAL800", "orbisglobal_", "orbisglobal700_", "orbisglobal730_", "orbisglobal800_"},
    {"ORBISLOCKED", "ORBISLOCKED800", "orbislocked_", "orbislocked700_", "orbislocked730_", "orbislocked800_"},
    {"ORBLOCK", "ORBLOCK800", "orblock_", "orblock700_", "orblock730_", "orblock800_"},
    {"ORBUNLOCK", "ORBUNLOCK800", "orbunlock_", "orbunlock700_", "orbunlock730_", "orbunlock800_"},
    {"ORBMAKEARRAYPERSISTENT", "ORBMAKEARRAYPERSISTENT800", "orbmakearraypersistent_", "orbmakearraypersistent700_",
     "orbmakearraypersistent730_", "orbmakearraypersistent800_"},
    {"ORBMAKEMEMORYPERSISTENT", "ORBMAKEMEMORYPERSISTENT800", "orbmakememorypersistent_",
     "orbmakememorypersistent700_", "orbmakememorypersistent730_", "orbmakememorypersistent800_"},
    {"ORBPRINTF", "ORBPRINTF800", "orbprintf_", "orbprintf700_", "orbprintf730_", "orbprintf800_"},
    {"ORBSETTRAPFLAG", "orbsettrapflag_"},
    {"ORBWARNMSGIDANDTXT", "ORBWARNMSGIDANDTXT800", "orbwarnmsgidandtxt_", "orbwarnmsgidandtxt700_",
     "orbwarnmsgidandtxt730_", "orbwarnmsgidandtxt800_"},
    {"ORBWARNMSGTXT", "ORBWARNMSGTXT800", "orbwarnmsgtxt_", "orbwarnmsgtxt700_", "orbwarnmsgtxt730_",
     "orbwarnmsgtxt800_"},
    // C names whose older-generation spelling is the same entry.
    {"orbPrintf", "orbPrintf_800"},
    {"orbErrMsgTxt", "orbErrMsgTxt_800"},
    {"orbErrMsgIdAndTxt", "orbErrMsgIdAndTxt_800"},
    {"orbWarnMsgTxt", "orbWarnMsgTxt_800"},
    {"orbWarnMsgIdAndTxt", "orbWarnMsgIdAndTxt_800"},
    {"orbPrintAssertion", "orbPrintAssertion_800"},
    {"orbIsGlobal", "orbIsGlobal_800"},
    {"orbMakeArrayPersistent", "orbMakeArrayPersistent_800"},
    {"orbMakeMemoryPersistent", "orbMakeMemoryPersistent_800"},
    {"orbAtExit", "orbAtExit_800"},
    {"orbFunctionName", "orbFunctionName_800"},
    {"orbIsLocked", "orbIsLocked_800"},
    {"orbLock", "orbLock_800"},
    {"orbUnlock", "orbUnlock_800"},
    // C entries of their own: the 800 forms skip the conversions of the plain ones.
    {"orbCallVELTRA"},
    {"orbCallVELTRA_800"},
    {"orbCallVELTRAWithTrap"},
    {"orbCallVELTRAWithTrap_800"},
    {"orbEvalString"},
    {"orbEvalString_800"},
    {"orbEvalStringWithTrap"},
    {"orbEvalStringWithTrap_800"},
    {"orbGetVariable"},
    {"orbGetVariableWithObject"},
    {"orbGetVariable_800"},
    {"orbGetVariablePtr"},
    {"orbGetVariablePtr_800"},
    {"orbPutVariable"},
    {"orbPutVariable_800"},
    {"orbSetTrapFlag"},
};

// Name -> address of every defined dynamic symbol of the library, as nm reports them.
std::map<std::string, std::string> definedSymbols(const std::string& library) {
    const auto nm = orbtest::runChild("/usr/bin/nm", {"-D", "--defined-only", library});
    EXPECT_EQ(nm.exitCode, 0) << nm.err;
    std::map<std::string, std::string> symbols;
    std::istringstream lines(nm.out);
    for (std::string address, type, name; lines >> address >> type >> name;) symbols[name] = address;
    return symbols;
}

TEST(ExportedNames, EveryNameOfAnEntryIsExportedAtTheEntrysOneAddress) {
    const auto symbols = definedSymbols(std::string(ORB_STAGE_DIR) + "/lib/liborb.so");
    ASSERT_FALSE(symbols.empty());

    std::map<std::string, std::string> entryAt;  // address -> first name of the entry there
    for (const auto& names : kEntries) {
        SCOPED_TRACE(names.front());
        const auto first = symbols.find(names.front());
        ASSERT_NE(first, symbols.end()) << names.front() << " is not exported";
        for (const auto& name : names) {
            const auto symbol = symbols.find(name);
            ASSERT_NE(symbol, symbols.end()) << name << " is not exported";
            EXPECT_EQ(symbol->second, first->second) << name << " is not at the address of " << names.front();
        }
        const auto [other, inserted] = entryAt.emplace(first->second, names.front());
        EXPECT_TRUE(inserted) << names.front() << " shares its address with the entry " << other->second;
    }
}

}  // namespace
