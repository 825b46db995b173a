#include "plugin/registry.h"

#include "plugin/plugin_state.h"

#include <new>
#include <vector>

#include "http/connection.h"
#include "platform/profile.h"

namespace vodarezazuv {

namespace {

constexpr size_t kSectionListSize = 8192;  // names beyond this are not seen
constexpr size_t kServerValueSize = 512;

std::shared_ptr<RegistryEntry> FindEntry(ConnectionRegistry& registry, const char16_t* name) {
    for (auto entry = registry.head; entry; entry = entry->next) {
        if (WideEqualNoCase(entry->name, name))
            return entry;
    }
    return nullptr;
}

// A new marked entry, or none when memory is short (the section is then skipped).
std::shared_ptr<RegistryEntry> NewEntry(const char16_t* name) {
    std::shared_ptr<RegistryEntry> entry;
    try {
        entry = std::make_shared<RegistryEntry>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    CopyBoundedW(entry->name, name, kNameLimit);
    entry->mark = 1;
    return entry;
}

bool NamesServer(const char16_t* section, const char16_t* settingsPath) {
    char16_t server[kServerValueSize];
    ProfileGetString(section, u"server", u"", server, kServerValueSize, settingsPath);
    return server[0] != 0;
}

// Drops the unmarked entries that hold no connection and are not exactly the pseudo entry.
void DropUnmarked(ConnectionRegistry& registry, const char16_t* pseudoName) {
    std::shared_ptr<RegistryEntry>* link = &registry.head;
    while (*link) {
        RegistryEntry& entry = **link;
        bool keep = entry.mark != 0 || entry.connection ||
                    (pseudoName != nullptr && WideEqual(entry.name, pseudoName));
        if (keep) {
            link = &entry.next;
        } else {
            *link = entry.next;  // a listing that stands on the dropped entry still holds it
        }
    }
}

// A section of the pseudo entry's own name (it gives the quick connection its settings)
// does not make a second entry: the one entry moves to the front and takes the pseudo name
// exactly, so that it stays when the section goes.
void PutPseudoEntryFirst(ConnectionRegistry& registry, const char16_t* pseudoName) {
    std::shared_ptr<RegistryEntry> pseudo;
    for (std::shared_ptr<RegistryEntry>* link = &registry.head; *link; link = &(*link)->next) {
        if (WideEqualNoCase((*link)->name, pseudoName)) {
            pseudo = *link;
            *link = pseudo->next;
            break;
        }
    }
    if (pseudo)
        CopyBoundedW(pseudo->name, pseudoName, kNameLimit);
    else
        pseudo = NewEntry(pseudoName);
    if (!pseudo)
        return;
    pseudo->next = registry.head;
    registry.head = pseudo;
}

}  // namespace

void ConnectionDeleter::operator()(Connection* connection) const {
    delete connection;
}

ConnectionRegistry::~ConnectionRegistry() {
    while (head && head.use_count() == 1)
        head = std::move(head->next);
}

namespace {
ConnectionRegistry* g_registry = nullptr;
}  // namespace

// Made on first use; from then on the unload of the library (or the end of the process)
// closes its connections and frees it, before any static object of the HTTP client goes.
ConnectionRegistry& Registry() {
    if (g_registry == nullptr) {
        g_registry = new ConnectionRegistry;
        DetachAtUnload();
    }
    return *g_registry;
}

void ReleaseRegistry() {
    delete g_registry;
    g_registry = nullptr;
}

void RefreshRegistry(ConnectionRegistry& registry, const char16_t* settingsPath,
                     const char16_t* pseudoName) {
    bool hadEntries = static_cast<bool>(registry.head);
    std::shared_ptr<RegistryEntry> tail;
    for (auto entry = registry.head; entry; entry = entry->next) {
        entry->mark = 0;
        tail = entry;
    }

    std::vector<char16_t> sections(kSectionListSize);
    ProfileGetSectionNames(sections.data(), sections.size(), settingsPath);
    for (const char16_t* name = sections.data(); *name != 0; name += WideLength(name) + 1) {
        if (!NamesServer(name, settingsPath))
            continue;
        if (hadEntries) {
            if (auto known = FindEntry(registry, name)) {
                known->mark = 1;
                continue;
            }
        }
        auto entry = NewEntry(name);
        if (!entry)
            continue;
        (tail ? tail->next : registry.head) = entry;
        tail = entry;
    }

    if (hadEntries) {
        DropUnmarked(registry, pseudoName);
    } else if (pseudoName != nullptr) {
        PutPseudoEntryFirst(registry, pseudoName);
    }
}

bool HasEntry(ConnectionRegistry& registry, const char16_t* name) {
    return FindEntry(registry, name) != nullptr;
}

Connection* FindConnection(ConnectionRegistry& registry, const char16_t* name) {
    auto entry = FindEntry(registry, name);
    return entry ? entry->connection.get() : nullptr;
}

int32_t SetConnection(ConnectionRegistry& registry, const char16_t* name,
                      ConnectionPtr connection) {
    auto entry = FindEntry(registry, name);
    if (!entry)
        return 0;
    entry->connection = std::move(connection);
    return 1;
}

std::shared_ptr<RegistryEntry> FirstEntryName(ConnectionRegistry& registry, char16_t* buffer,
                                              size_t limit) {
    if (registry.head)
        CopyBoundedW(buffer, registry.head->name, limit);
    return registry.head;
}

std::shared_ptr<RegistryEntry> NextEntryName(const std::shared_ptr<RegistryEntry>& entry,
                                             char16_t* buffer, size_t limit) {
    if (!entry || !entry->next)
        return nullptr;
    CopyBoundedW(buffer, entry->next->name, limit);
    return entry->next;
}

void ConnectionNameOf(const char16_t* hostPath, char16_t* buffer, size_t limit) {
    while (*hostPath == u'\\' || *hostPath == u'/')
        ++hostPath;
    CopyBoundedW(buffer, hostPath, limit);
    for (char16_t* p = buffer; *p != 0; ++p) {
        if (*p == u'\\' || *p == u'/') {
            *p = 0;
            break;
        }
    }
}

}  // namespace vodarezazuv
