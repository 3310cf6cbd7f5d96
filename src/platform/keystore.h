// Key store: a small settings tree of our own with two roots, one for the user
// and one for the machine. A key holds named text values (the empty name is the
// key's default value) and subkeys; key paths are "\"-separated levels, and key
// and value names match ignoring ASCII case. Each root is one text file in the
// store folder, read afresh by every call and replaced whole by every change.
#pragma once

#include <cstdint>
#include <string>

enum : int32_t { kKeyRootUser = 1, kKeyRootMachine = 2 };

enum : int {
    kKeyFound = 1,         // also: done
    kKeyMissing = 0,       // no such key, value or subkey
    kKeyBadArgument = -1,  // unknown root, empty or unwritable name
    kKeyNoStore = -2,      // the store folder is unknown (no HOME)
    kKeyBadFile = -3,      // the root's file cannot be read or is not a key store
    kKeyWriteFailed = -4,  // the folder or file cannot be written
};

// Environment variable that moves the store to another folder (tests use it).
inline constexpr const char* kKeyStoreEnv = "KVCYCLES_KEYSTORE_DIR";

// The store folder with a trailing '/': $KVCYCLES_KEYSTORE_DIR, else
// $XDG_CONFIG_HOME/kvcycles, else $HOME/.config/kvcycles; empty when none is known.
std::string keystoreFolder();

// The file of a root; empty for an unknown root or folder.
std::string keystoreFile(int32_t root);

// kKeyFound or kKeyMissing; the empty path is the root itself and always exists.
int keystoreKeyExists(int32_t root, const char* key);

// A value of a key; name null or "" reads the default value.
int keystoreGetValue(int32_t root, const char* key, const char* name, std::string* value);

// The number of direct subkeys (0 when the key is missing), or a negative code.
int keystoreSubkeyCount(int32_t root, const char* key);

// The name of the direct subkey at a 0-based index, in the order the subkeys were created.
int keystoreSubkeyName(int32_t root, const char* key, int32_t index, std::string* name);

// Creates the key and every missing level above it.
int keystoreCreateKey(int32_t root, const char* key);

// Stores a value (creating the key's missing levels); name null or "" sets the default value.
int keystoreSetValue(int32_t root, const char* key, const char* name, const char* value);

// kKeyFound when the value was there and is gone, kKeyMissing when it was not there.
int keystoreDeleteValue(int32_t root, const char* key, const char* name);

// Deletes a key with all its subkeys; the root itself cannot be deleted.
int keystoreDeleteKey(int32_t root, const char* key);
