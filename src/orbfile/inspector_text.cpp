// The Inspector's texts: the one-line summary, the classification log and the display names of
// symbols.
#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "host/filesystem.hpp"
#include "host/i18n.hpp"
#include "orbfile/inspector_impl.hpp"

namespace orbfile {
namespace {

std::u16string ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// The file's time stamp in the local time zone, in Boost.Date_Time's simple form
// ("2024-Nov-05 14:03:27"); "not-a-date-time" when the file cannot be examined.
std::u16string fileTime(const std::string& nativePath) {
    namespace pt = boost::posix_time;
    pt::ptime stamp(pt::not_a_date_time);
    try {
        const std::int64_t seconds = host::fs::lastWriteTime(nativePath);
        const pt::ptime utc = pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::seconds(static_cast<long>(seconds));
        stamp = boost::date_time::c_local_adjustor<pt::ptime>::utc_to_local(utc);
    } catch (const std::exception&) {
        // FilesystemError, or a time the local-time conversion cannot represent
    }
    return ascii(pt::to_simple_string(stamp));
}

}  // namespace

std::u16string symbolText(std::string_view name) {
    try {
        return host::i18n::to_ustring(name);
    } catch (const std::exception&) {
        std::u16string text;
        for (unsigned char c : name) text.push_back(c < 0x80 ? char16_t(c) : u'\uFFFD');
        return text;
    }
}

std::u16string displayName(std::string_view name) {
    std::string_view shown = name;
    if (shown.starts_with('_')) shown.remove_prefix(1);
    if (shown.ends_with('_')) shown.remove_suffix(1);
    const std::size_t n = shown.size();
    if (n >= 4 && (shown.ends_with("700") || shown.ends_with("730") || shown.ends_with("800"))) {
        shown.remove_suffix(n > 4 && shown[n - 4] == '_' ? 4 : 3);
    }
    return symbolText(shown);
}

void Inspector::Impl::buildSummary() {
    std::u16string text = u"'" + m_orbfile + u"'";
    text += u" | " + fileTime(m_native_path);
    text += u" | ";
    text += m_ver_embedded.get_version();

    std::u16string counts;
    for (const ListInfo& info : kLists) {
        const IndexList& list = this->*info.list;
        if (list.empty()) continue;
        if (!counts.empty()) counts += u" ";
        counts += ascii(info.label) + u":" + ascii(std::to_string(list.size()));
    }
    if (!counts.empty()) text += u" | " + counts;

    if (m_has_error && !m_messages.empty()) {
        text += u" | HasErr: ";
        text += Inspector::MessageID2uchar(m_messages.front().id);
    } else if (m_needs_upgrade) {
        text += u" | HasUpg:";
        for (const Message& message : m_messages) {
            text += u" ";
            text += Inspector::MessageID2uchar(message.id);
        }
    }
    text += u" | VersioningStrategy: " + m_ver_embedded.getVersioningStrategy();
    text += m_threadpool_safe ? u" | ThreadpoolSupport: 1" : u" | ThreadpoolSupport: 0";
    text += u"\n";
    m_summary = std::move(text);
}

void Inspector::Impl::buildLog() {
    std::u16string text;
    for (const ListInfo& info : kLists) {
        const IndexList& list = this->*info.list;
        text += u"  " + ascii(info.label) + u":" + ascii(std::to_string(list.size())) + u"\n";
        for (std::size_t index : list) text += u"    " + symbolText(symbolOf(info, index)) + u"\n";
    }
    m_log = std::move(text);
}

}  // namespace orbfile
