#include "orbfile/module_verdict.hpp"

#include <future>
#include <optional>

#include "objfile/loadable.hpp"
#include "orbfile/inspector_impl.hpp"
#include "platform/startup_probe.hpp"
#include "startup/log_record.hpp"

namespace orbfile {
namespace {

std::string idText(const char16_t* name) { return orb::startup::logText(name); }

ModuleVerdict::Finding fromInspector(const Inspector::Message& message) {
    const std::string id = idText(Inspector::MessageID2uchar(message.id));
    return {id, id.front() == 'E', message.reason, message.action, message.symbols};
}

ModuleVerdict::Finding fromReadiness(const LoadReadiness::Finding& finding) {
    return {idText(LoadReadiness::FindingID2uchar(finding.id)), true, finding.reason, finding.action, finding.symbols};
}

bool aboutTheFile(Inspector::MessageID id) {
    return id == Inspector::ENONAME || id == Inspector::ENOFILE || id == Inspector::ENOREAD;
}

}  // namespace

ModuleVerdict::Kind ModuleVerdict::kind() const noexcept {
    if (m_findings.empty()) return Kind::Ok;
    return m_findings.front().error ? Kind::Error : Kind::Upgrade;
}

ModuleVerdict::ModuleVerdict(const std::u16string& path, const CheckOptions& options) {
    // Withheld, the Inspector's version read maps nothing either.
    std::optional<orb::platform::StartupCodeWithheld> withheld;
    if (!options.runStartupCode) withheld.emplace();

    // The check before mapping walks the file's tables, the Inspector its symbols: on a large
    // library each takes milliseconds, so the first runs on a thread of its own meanwhile (or
    // when it is asked for, should no thread be had).
    std::future<objfile::LoadCheck> loadable = std::async(std::launch::async | std::launch::deferred,
                                                          [&path] { return LoadReadiness::checkBeforeMapping(path); });
    m_inspector = std::make_unique<Inspector>(path, options.strict);
    const Inspector& inspector = *m_inspector;
    const auto& messages = inspector.get_messages();
    const Inspector::Message* inspectorError = inspector.has_error() && !messages.empty() ? &messages.front() : nullptr;
    if (inspectorError && aboutTheFile(inspectorError->id)) {
        m_findings.push_back(fromInspector(*inspectorError));
        return;
    }

    // The start-up step only for a file nothing else has refused.
    const Inspector::Impl& impl = *inspector.m_impl;
    std::vector<std::string_view> lookalikes;
    for (const std::size_t index : impl.m_def_EPs) lookalikes.push_back(impl.m_defs[index]);
    const LoadReadiness readiness(path, loadable.get(), impl.m_defs, lookalikes,
                                  options.runStartupCode && !inspectorError);
    auto& findings = m_findings;
    if (!readiness.ready() && !(inspectorError && readiness.is_other_binary_format())) {
        findings.push_back(fromReadiness(readiness.get_findings().front()));
        if (inspectorError && inspectorError->id != Inspector::ENOTORB) findings.push_back(fromInspector(*inspectorError));
    } else if (inspectorError) {
        findings.push_back(fromInspector(*inspectorError));
    } else {
        for (const auto& message : messages) findings.push_back(fromInspector(message));
    }
    // Said also under the Inspector's error: withheld, a version only the version function knows
    // cannot be read (ENOTORB).
    m_startupSkipped = !options.runStartupCode && readiness.startup() == LoadReadiness::Startup::Skipped;
}

}  // namespace orbfile
