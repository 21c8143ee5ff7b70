// The simulated registry and the advapi32 calls the programs make on it.
//
// Keys and values are looked up case-insensitively (ASCII folding, as the
// programs only use ASCII names) and keep the spelling they were first
// written with. Access is checked the way Windows does it: when a handle is
// opened with write rights on a key the user may not write, the open fails;
// a handle opened for reading fails on a later write.
#include <sim/world.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>

namespace sim {

namespace {

// The platform's longest names: a key name (one part of a path) of 255
// characters, a value name of 16,383. The calls refuse to make longer ones;
// a test may still put such a key into the hive through Registry::create, as
// another tool writing the hive could.
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

// Rights that modify the key; denied on a key marked denyWrite.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// The types that hold text, which the calls terminate.
bool holdsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Path components; empty ones (doubled or trailing backslashes) are skipped.
std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

RegKey* child(RegKey& parent, const std::string& name) {
    auto it = parent.subkeys.find(lower(name));
    return it == parent.subkeys.end() ? nullptr : it->second.get();
}

RegKey& addChild(RegKey& parent, const std::string& name) {
    auto key = std::make_unique<RegKey>();
    key->name = name;
    key->parent = &parent;
    RegKey& ref = *key;
    std::string id = lower(name);
    parent.subkeys[id] = std::move(key);
    parent.subkeyOrder.push_back(id);
    return ref;
}

void putValue(RegKey& key, const std::string& name, DWORD type, std::vector<BYTE> bytes) {
    std::string id = lower(name);
    auto it = key.values.find(id);
    if (it == key.values.end()) {
        key.valueOrder.push_back(name);
        it = key.values.emplace(id, RegValue{}).first;
    }
    it->second.type = type;
    it->second.data = std::move(bytes);
}

void collect(RegKey& key, std::set<const RegKey*>& out) {
    out.insert(&key);
    for (auto& entry : key.subkeys) collect(*entry.second, out);
}

// Generic rights map onto the key rights; MAXIMUM_ALLOWED grants what the
// key allows.
REGSAM normalise(REGSAM sam, const RegKey& key) {
    REGSAM out = sam & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED |
                         KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (sam & (GENERIC_READ | GENERIC_EXECUTE)) out |= KEY_READ;
    if (sam & GENERIC_WRITE) out |= KEY_WRITE;
    if (sam & GENERIC_ALL) out |= KEY_ALL_ACCESS;
    if (sam & MAXIMUM_ALLOWED) out |= key.denyWrite ? static_cast<REGSAM>(KEY_READ) : KEY_ALL_ACCESS;
    return out;
}

std::string hex(DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(v));
    return buf;
}

std::string text(LPCSTR s) { return s ? std::string(s) : std::string(); }

}  // namespace

// ---- Registry -----------------------------------------------------------------------

Registry::Registry() {
    auto make = [](const char* name) {
        auto key = std::make_unique<RegKey>();
        key->name = name;
        return key;
    };
    hklm_ = make("HKLM");
    hkcu_ = make("HKCU");
    hkcr_ = make("HKCR");
    hku_ = make("HKU");
}

namespace {
// Splits "HKLM\\SOFTWARE\\X" into its root name (lower-case) and the rest.
std::string rootName(const std::string& path, std::string* rest) {
    size_t slash = path.find('\\');
    *rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    return lower(path.substr(0, slash));
}
}  // namespace

RegKey* Registry::find(const std::string& path) {
    std::string rest;
    std::string name = rootName(path, &rest);
    RegKey* key = nullptr;
    if (name == "hklm" || name == "hkey_local_machine") key = hklm_.get();
    else if (name == "hkcu" || name == "hkey_current_user") key = hkcu_.get();
    else if (name == "hkcr" || name == "hkey_classes_root") key = hkcr_.get();
    else if (name == "hku" || name == "hkey_users") key = hku_.get();
    for (const std::string& part : components(rest)) {
        if (!key) break;
        key = child(*key, part);
    }
    return key;
}

RegKey& Registry::create(const std::string& path) {
    std::string rest;
    std::string name = rootName(path, &rest);
    RegKey* key = find(name);
    if (!key) throw std::invalid_argument("registry path without a known root: " + path);
    for (const std::string& part : components(rest)) {
        RegKey* next = child(*key, part);
        key = next ? next : &addChild(*key, part);
    }
    return *key;
}

void Registry::remove(const std::string& path) {
    RegKey* key = find(path);
    if (!key) return;
    std::set<const RegKey*> gone;
    std::string rest;
    rootName(path, &rest);
    std::vector<std::string> parts = components(rest);
    if (parts.empty()) {
        // A root itself cannot go away; it is emptied instead.
        for (auto& entry : key->subkeys) collect(*entry.second, gone);
        key->subkeys.clear();
        key->subkeyOrder.clear();
        key->values.clear();
        key->valueOrder.clear();
    } else {
        collect(*key, gone);
        std::string parentPath = path.substr(0, path.size() - rest.size());
        for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += parts[i] + "\\";
        RegKey* parent = find(parentPath);
        std::string id = lower(parts.back());
        auto& order = parent->subkeyOrder;
        order.erase(std::remove(order.begin(), order.end(), id), order.end());
        parent->subkeys.erase(id);
    }
    // Handles to removed keys stay open but no longer resolve.
    for (auto& entry : handles_)
        if (gone.count(entry.second.key)) entry.second.key = nullptr;
}

void Registry::setDword(const std::string& path, const std::string& name, DWORD value) {
    std::vector<BYTE> bytes(sizeof(DWORD));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
    putValue(create(path), name, REG_DWORD, std::move(bytes));
}

void Registry::setString(const std::string& path, const std::string& name, const std::string& text,
                         DWORD type) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    putValue(create(path), name, type, std::move(bytes));
}

void Registry::setRaw(const std::string& path, const std::string& name, DWORD type,
                      const std::vector<BYTE>& bytes) {
    putValue(create(path), name, type, bytes);
}

const RegValue* Registry::value(const std::string& path, const std::string& name) {
    RegKey* key = find(path);
    if (!key) return nullptr;
    auto it = key->values.find(lower(name));
    return it == key->values.end() ? nullptr : &it->second;
}

bool Registry::dword(const std::string& path, const std::string& name, DWORD* out) {
    const RegValue* v = value(path, name);
    if (!v || v->type != REG_DWORD || v->data.size() != sizeof(DWORD)) return false;
    DWORD result = 0;
    for (size_t i = 0; i < sizeof(DWORD); ++i) result |= static_cast<DWORD>(v->data[i]) << (8 * i);
    if (out) *out = result;
    return true;
}

std::string Registry::string(const std::string& path, const std::string& name) {
    const RegValue* v = value(path, name);
    if (!v || !holdsText(v->type)) return "";
    auto end = std::find(v->data.begin(), v->data.end(), BYTE{0});
    return std::string(v->data.begin(), end);
}

RegKey* Registry::root(HKEY predefined) {
    if (predefined == HKEY_LOCAL_MACHINE) return hklm_.get();
    if (predefined == HKEY_CURRENT_USER) return hkcu_.get();
    if (predefined == HKEY_CLASSES_ROOT) return hkcr_.get();
    if (predefined == HKEY_USERS) return hku_.get();
    return nullptr;
}

HKEY Registry::open(RegKey* key, REGSAM access) {
    uintptr_t id = nextHandle_;
    nextHandle_ += 4;  // handle values are multiples of four, as on Windows
    handles_[id] = Handle{key, access};
    return reinterpret_cast<HKEY>(id);
}

RegKey* Registry::resolve(HKEY key) {
    if (RegKey* r = root(key)) return r;
    auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
    return it == handles_.end() ? nullptr : it->second.key;
}

bool Registry::close(HKEY key) { return handles_.erase(reinterpret_cast<uintptr_t>(key)) != 0; }

bool Registry::stale(HKEY key) const {
    auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
    return it != handles_.end() && it->second.key == nullptr;
}

REGSAM Registry::access(HKEY key) const {
    if (const_cast<Registry*>(this)->root(key)) return KEY_ALL_ACCESS;
    auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
    return it == handles_.end() ? 0 : it->second.access;
}

// Walks up from the key: every call is logged with its key's path, and a
// search of the whole tree per call would make large hives slow.
std::string Registry::pathOf(const RegKey* key) const {
    if (!key) return "";
    std::vector<const RegKey*> chain;
    for (const RegKey* k = key; k; k = k->parent) chain.push_back(k);
    const RegKey* top = chain.back();
    if (top != hklm_.get() && top != hkcu_.get() && top != hkcr_.get() && top != hku_.get()) return "";
    std::string path = top->name;
    for (size_t i = chain.size() - 1; i-- > 0;) path += "\\" + chain[i]->name;
    return path;
}

}  // namespace sim

// ---- advapi32 -----------------------------------------------------------------------------

namespace {

using sim::RegKey;
using sim::Registry;

Registry& reg() { return sim::world().registry; }

// "HKLM\\SOFTWARE\\X" for the log; "#1004" for a handle that does not resolve.
std::string keyText(HKEY key, LPCSTR subKey = nullptr) {
    RegKey* k = reg().resolve(key);
    std::string out = k ? reg().pathOf(k) : sim::handleText(key);
    if (subKey && *subKey) out += std::string("\\") + subKey;
    return out;
}

// Result for a handle that does not resolve to a live key.
LSTATUS badHandle(HKEY key) { return reg().stale(key) ? ERROR_KEY_DELETED : ERROR_INVALID_HANDLE; }

// Opens `subKey` below `base` with the desired access; shared by the open calls.
LSTATUS openKey(HKEY base, LPCSTR subKey, REGSAM sam, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    RegKey* key = reg().resolve(base);
    if (!key) return badHandle(base);
    for (const std::string& part : sim::components(subKey ? subKey : "")) {
        key = sim::child(*key, part);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    if (key->denyOpen) return ERROR_ACCESS_DENIED;
    REGSAM granted = sim::normalise(sam, *key);
    if (key->denyWrite && (granted & sim::kWriteRights)) return ERROR_ACCESS_DENIED;
    *result = reg().open(key, granted);
    return ERROR_SUCCESS;
}

// The key behind a handle, provided the handle carries `right` (0: none needed).
LSTATUS usable(HKEY handle, REGSAM right, RegKey** out) {
    *out = reg().resolve(handle);
    if (!*out) return badHandle(handle);
    if (right && !(reg().access(handle) & right)) return ERROR_ACCESS_DENIED;
    if ((right & sim::kWriteRights) && (*out)->denyWrite) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM sam, PHKEY result) {
    sim::world().log("RegOpenKeyExA", "key=" + keyText(key, subKey) + " sam=" + sim::hex(sam));
    return openKey(key, subKey, sam, result);
}

LSTATUS WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    sim::world().log("RegOpenKeyA", "key=" + keyText(key, subKey));
    if (!result) return ERROR_INVALID_PARAMETER;
    // Documented: without a subkey the very handle passed in comes back.
    if (!subKey || !*subKey) {
        *result = key;
        return ERROR_SUCCESS;
    }
    return openKey(key, subKey, MAXIMUM_ALLOWED, result);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM sam,
                               const SECURITY_ATTRIBUTES*, PHKEY result, LPDWORD disposition) {
    sim::world().log("RegCreateKeyExA", "key=" + keyText(key, subKey) + " sam=" + sim::hex(sam));
    if (!result || !subKey) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    RegKey* current = reg().resolve(key);
    if (!current) return badHandle(key);
    std::vector<std::string> parts = sim::components(subKey);
    for (const std::string& part : parts)
        if (part.size() > sim::kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
    size_t i = 0;
    for (; i < parts.size(); ++i) {
        RegKey* next = sim::child(*current, parts[i]);
        if (!next) break;
        current = next;
    }
    if (i == parts.size()) {
        LSTATUS status = openKey(key, subKey, sam, result);
        if (status == ERROR_SUCCESS && disposition) *disposition = REG_OPENED_EXISTING_KEY;
        return status;
    }
    // Creating below a key the user may not write to is refused before
    // anything is created.
    if (current->denyWrite) return ERROR_ACCESS_DENIED;
    for (; i < parts.size(); ++i) current = &sim::addChild(*current, parts[i]);
    *result = reg().open(current, sim::normalise(sam, *current));
    if (disposition) *disposition = REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size) {
    sim::world().log("RegQueryValueExA", "key=" + keyText(key) + " name=" + sim::text(name));
    RegKey* k = nullptr;
    if (LSTATUS status = usable(key, KEY_QUERY_VALUE, &k)) return status;
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    auto it = k->values.find(sim::lower(sim::text(name)));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    const sim::RegValue& v = it->second;
    DWORD needed = static_cast<DWORD>(v.data.size());
    if (type) *type = v.type;
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        // The buffer's content is unspecified on Windows; it is left alone here.
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, v.data.data(), needed);
    // A string stored without its terminator (another program may write one
    // so) gets one after the data where the buffer has room; the size
    // reported still counts the stored bytes only.
    if (needed && *size > needed && v.data.back() && sim::holdsText(v.type)) data[needed] = 0;
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    sim::world().log("RegSetValueExA", "key=" + keyText(key) + " name=" + sim::text(name) +
                                           " type=" + std::to_string(type) + " size=" + std::to_string(size));
    RegKey* k = nullptr;
    if (LSTATUS status = usable(key, KEY_SET_VALUE, &k)) return status;
    if (!data && size) return ERROR_NOACCESS;
    if (sim::text(name).size() > sim::kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
    // A string whose size leaves out the terminator that follows it in
    // memory is stored with it, as Windows does for the ANSI call; bytes
    // with no terminator after them are stored as given.
    if (data && size && sim::holdsText(type) && data[size - 1] && !data[size]) ++size;
    std::vector<BYTE> bytes(data, data + (data ? size : 0));
    sim::putValue(*k, sim::text(name), type, std::move(bytes));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
    sim::world().log("RegDeleteValueA", "key=" + keyText(key) + " name=" + sim::text(name));
    RegKey* k = nullptr;
    if (LSTATUS status = usable(key, KEY_SET_VALUE, &k)) return status;
    std::string id = sim::lower(sim::text(name));
    if (!k->values.erase(id)) return ERROR_FILE_NOT_FOUND;
    auto& order = k->valueOrder;
    order.erase(std::remove_if(order.begin(), order.end(),
                               [&](const std::string& n) { return sim::lower(n) == id; }),
                order.end());
    return ERROR_SUCCESS;
}

// Only a key without subkeys can go; handles still open to it answer
// ERROR_KEY_DELETED from then on.
LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    sim::world().log("RegDeleteKeyA", "key=" + keyText(key, subKey));
    if (!subKey) return ERROR_INVALID_PARAMETER;
    HKEY handle = nullptr;
    if (LSTATUS status = openKey(key, subKey, DELETE, &handle)) return status;
    RegKey* k = reg().resolve(handle);
    reg().close(handle);
    if (!k->parent || !k->subkeys.empty()) return ERROR_ACCESS_DENIED;
    reg().remove(reg().pathOf(k));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegFlushKey(HKEY key) {
    sim::world().log("RegFlushKey", "key=" + keyText(key));
    RegKey* k = nullptr;
    return usable(key, 0, &k);
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    sim::world().log("RegCloseKey", "key=" + keyText(key));
    if (reg().root(key)) return ERROR_SUCCESS;  // predefined keys are never closed
    return reg().close(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Subkeys come out sorted by their lower-case names. Windows does not promise
// an order, but its hives (and Wine's) enumerate in sorted order, which is
// what programs in the field have come to see.
LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                             LPSTR className, LPDWORD classSize, PFILETIME lastWrite) {
    sim::world().log("RegEnumKeyExA", "key=" + keyText(key) + " index=" + std::to_string(index));
    RegKey* k = nullptr;
    if (LSTATUS status = usable(key, KEY_ENUMERATE_SUB_KEYS, &k)) return status;
    if (!name || !nameSize || reserved || (className && !classSize)) return ERROR_INVALID_PARAMETER;
    if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const RegKey& sub = *std::next(k->subkeys.begin(), index)->second;
    size_t length = sub.name.size();
    // *nameSize counts the terminator going in; on failure it is left as it was.
    if (length + 1 > *nameSize) return ERROR_MORE_DATA;
    if (className) {
        if (*classSize < 1) return ERROR_MORE_DATA;
        className[0] = '\0';  // keys here carry no class
        *classSize = 0;
    } else if (classSize) {
        *classSize = 0;
    }
    std::memcpy(name, sub.name.c_str(), length + 1);
    *nameSize = static_cast<DWORD>(length);
    if (lastWrite) *lastWrite = FILETIME{0, 0};
    return ERROR_SUCCESS;
}
