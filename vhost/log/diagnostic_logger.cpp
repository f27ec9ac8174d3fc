// Diagnostic channels on Boost.Log. Every channel shares one sink to standard error that writes
// "[channel] text" records; whether a channel logs at all is decided once, when its logger is
// made, from ORB_LOG.
#include "host/log.hpp"

#include <cstdlib>
#include <iostream>
#include <mutex>

#include <boost/core/null_deleter.hpp>
#include <boost/log/attributes/constant.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include "vhost/log/log_settings.hpp"

namespace host::log {
namespace {

namespace bl = boost::log;

BOOST_LOG_ATTRIBUTE_KEYWORD(orbChannel, "OrbChannel", std::string)

// Records of other Boost.Log users in the process are not ours to print; the filter keeps the
// sink to records that carry a diagnostic channel.
void installSink() {
    static std::once_flag once;
    std::call_once(once, [] {
        using Backend = bl::sinks::text_ostream_backend;
        auto backend = boost::make_shared<Backend>();
        backend->add_stream(boost::shared_ptr<std::ostream>(&std::clog, boost::null_deleter()));
        backend->auto_flush(true);
        auto sink = boost::make_shared<bl::sinks::synchronous_sink<Backend>>(backend);
        sink->set_filter(bl::expressions::has_attr(orbChannel));
        sink->set_formatter(bl::expressions::stream << "[" << orbChannel << "] " << bl::expressions::smessage);
        bl::core::get()->add_sink(sink);
    });
}

}  // namespace

struct DiagnosticLogger::Impl {
    int threshold = vhost::log::kOff;
    mutable bl::sources::severity_logger_mt<int> source;
};

DiagnosticLogger::DiagnosticLogger(std::string channel) : m_channel(std::move(channel)), m_impl(std::make_unique<Impl>()) {
    const char* setting = std::getenv("ORB_LOG");
    m_impl->threshold = setting ? vhost::log::thresholdFor(setting, m_channel) : vhost::log::kOff;
    m_impl->source.add_attribute("OrbChannel", bl::attributes::constant<std::string>(m_channel));
    if (m_impl->threshold != vhost::log::kOff) installSink();
}

DiagnosticLogger::~DiagnosticLogger() = default;

bool DiagnosticLogger::enabled(int severity) const noexcept { return severity >= m_impl->threshold; }

void DiagnosticLogger::push(int severity, const std::string& text) const {
    if (!enabled(severity)) return;
    BOOST_LOG_SEV(m_impl->source, severity) << text;
}

}  // namespace host::log
