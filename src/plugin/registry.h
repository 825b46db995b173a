// The registry of connections: the names the root lists, each with its open connection.
#pragma once

#include <cstddef>
#include <memory>

#include "util/bounded_text.h"

namespace vodarezazuv {

struct Connection;

// Frees a connection record; closing its session is the caller's business.
struct ConnectionDeleter {
    void operator()(Connection* connection) const;
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionDeleter>;

struct RegistryEntry {
    char16_t name[kNameLimit + 1] = u"";
    ConnectionPtr connection;
    // Shared so that a root listing in progress keeps the entries it stands on alive when a
    // rebuild drops them meanwhile.
    std::shared_ptr<RegistryEntry> next;
    int32_t mark = 0;
};

struct ConnectionRegistry {
    std::shared_ptr<RegistryEntry> head;

    ConnectionRegistry() = default;
    ConnectionRegistry(const ConnectionRegistry&) = delete;
    ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;
    ~ConnectionRegistry();  // unlinks iteratively: no recursion over a long list
};

// The name of the pseudo entry every rebuild adds first.
inline constexpr char16_t kQuickConnectionName[] = u"Quick connection";

// The plugin-wide registry.
ConnectionRegistry& Registry();
// Frees the registry and every entry (their connections must be closed); the next use of
// Registry() makes a new one.
void ReleaseRegistry();

// Rebuilds the registry from the sections of the settings file that name a server: known
// entries keep their place, new sections are appended in file order, entries whose section
// is gone are dropped unless their connection is open or they are the pseudo entry. A
// registry built from empty starts with the pseudo entry, when one is given.
void RefreshRegistry(ConnectionRegistry& registry, const char16_t* settingsPath,
                     const char16_t* pseudoName);

// Whether an entry matches name (ASCII case ignored).
bool HasEntry(ConnectionRegistry& registry, const char16_t* name);

// The open connection of the entry matching name (ASCII case ignored), or nullptr.
Connection* FindConnection(ConnectionRegistry& registry, const char16_t* name);

// Replaces the connection of the entry matching name, freeing the old record. Returns 1 when
// an entry matched, else 0 (and the given record is freed).
int32_t SetConnection(ConnectionRegistry& registry, const char16_t* name, ConnectionPtr connection);

// Copies the first entry's name (limit characters) and returns the entry, or nullptr.
std::shared_ptr<RegistryEntry> FirstEntryName(ConnectionRegistry& registry, char16_t* buffer,
                                              size_t limit);
// Copies the name of the entry after `entry` and returns it, or nullptr at the end.
std::shared_ptr<RegistryEntry> NextEntryName(const std::shared_ptr<RegistryEntry>& entry,
                                             char16_t* buffer, size_t limit);

// The connection name of a host path: its first component, leading separators skipped.
void ConnectionNameOf(const char16_t* hostPath, char16_t* buffer, size_t limit);

}  // namespace vodarezazuv
