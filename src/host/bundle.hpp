// Host bundle installation: the resource bundles a file carries, and the values of their
// manifests.
//
// A bundle is a zip archive whose entries all lie under one top-level directory, the bundle's
// name; the bundle's manifest is "<name>/manifest.json", a JSON object. A file may carry the zip
// as an embedded blob (an ELF section ".us_resources", a PE resource "US_RESOURCES" of type 300),
// linked in as plain data, or appended after its end.
//
// Manifest values become `Any`s: objects are `AnyMap`s (keys compared without regard to case),
// arrays `std::vector<Any>`, strings `std::string`, true/false `bool`, integers that fit an
// `int` `int`, every other number `double`, null an empty `Any`.
//
// Every operation may be called from any thread.
#pragma once

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "host/host_api.hpp"

namespace host {

// Thrown by any_cast when the value is not of exactly the requested type. The message contains
// "any_cast" and names both types.
class BadAnyCastException : public std::bad_cast {
public:
    HOST_API BadAnyCastException(const std::type_info& held, const std::type_info& requested);
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// A value of any copyable type, queried by exact type.
class Any {
public:
    Any() = default;
    // Implicit, like the values it stands for. Text given as a C string is held as std::string.
    template <class T, class = std::enable_if_t<!std::is_same_v<std::decay_t<T>, Any> &&
                                                !std::is_convertible_v<T, const char*>>>
    Any(T&& value) : m_value(std::forward<T>(value)) {}
    Any(const char* text) : m_value(std::string(text)) {}

    bool Empty() const noexcept { return !m_value.has_value(); }
    // typeid(void) when empty.
    const std::type_info& Type() const noexcept { return m_value.type(); }

    template <class T>
    friend const T& any_cast(const Any& any);
    template <class T>
    friend const T* any_cast(const Any* any) noexcept;

private:
    std::any m_value;
};

// The held value; throws BadAnyCastException unless it is exactly a T.
template <class T>
const T& any_cast(const Any& any) {
    if (const T* value = std::any_cast<T>(&any.m_value)) return *value;
    throw BadAnyCastException(any.Type(), typeid(T));
}
// The held value, or null when `any` is null or holds something else.
template <class T>
const T* any_cast(const Any* any) noexcept {
    return any ? std::any_cast<T>(&any->m_value) : nullptr;
}

// Orders keys ignoring ASCII case, so that "Kv" and "kv" are one key.
struct HOST_API CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const noexcept;
};

// A map from text keys to values, keys compared without regard to case.
class HOST_API AnyMap {
public:
    using Container = std::map<std::string, Any, CaseInsensitiveLess>;
    using const_iterator = Container::const_iterator;

    AnyMap() = default;

    std::size_t size() const noexcept { return m_values.size(); }
    bool empty() const noexcept { return m_values.empty(); }
    std::size_t count(const std::string& key) const { return m_values.count(key); }
    const_iterator begin() const noexcept { return m_values.begin(); }
    const_iterator end() const noexcept { return m_values.end(); }
    const_iterator find(const std::string& key) const { return m_values.find(key); }

    // The value under `key`; throws std::out_of_range when there is none.
    const Any& at(const std::string& key) const;
    // Adds `key` unless a key equal to it (ignoring case) is present; answers whether it did.
    bool insert(std::string key, Any value);

    // Follows a dotted key one map level per component: "a.b.c" is at("a"), then "b" inside that
    // map, then "c" inside that one. Throws std::out_of_range when a component is missing or a
    // value on the way is not an AnyMap. A key containing a literal dot is reached with at().
    const Any& AtCompoundKey(const std::string& key) const;

private:
    Container m_values;
};

// One installed bundle. A Bundle is a handle: copies share the bundle, and the headers stay
// readable after the bundle is uninstalled. A default-constructed Bundle is no bundle (false).
class HOST_API Bundle {
public:
    enum State { STATE_UNINSTALLED = 1, STATE_INSTALLED = 2 };

    Bundle() = default;
    explicit operator bool() const noexcept { return m_data != nullptr; }

    // These need a bundle (not a default-constructed one); they throw std::invalid_argument
    // otherwise.
    // Unique within the process, never reused.
    long GetBundleId() const;
    // The path it was installed from.
    std::string GetLocation() const;
    // The top-level directory of the zip that holds it.
    std::string GetName() const;
    // The manifest's "bundle.symbolic_name".
    std::string GetSymbolicName() const;
    // The manifest as a map.
    const AnyMap& GetHeaders() const;
    State GetState() const;

    // Removes the bundle from the installed set. Throws std::logic_error when it is already
    // uninstalled.
    void Uninstall();

    struct Data;
    explicit Bundle(std::shared_ptr<Data> data) noexcept : m_data(std::move(data)) {}

private:
    std::shared_ptr<Data> m_data;
};

// Installs the bundles that the file at `path` (UTF-8) carries: one per top-level directory of
// the zip found in it, in the order the zip lists them. Empty when the file carries no zip with
// at least one entry under a top-level directory.
// Throws std::runtime_error, installing nothing, when the file cannot be read, when the zip found
// is damaged, or when a bundle has no manifest, a manifest that is not a JSON object, or no
// non-empty text "bundle.symbolic_name".
HOST_API std::vector<Bundle> install(const std::string& path);

// The bundles installed and not yet uninstalled, by ascending id.
HOST_API std::vector<Bundle> installedBundles();

}  // namespace host
