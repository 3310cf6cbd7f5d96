// The key store's root file: sections of "\"-separated key paths and their
// named values. A store that reads must also take a change and read it back.
#include <cstdlib>
#include <string>

#include "fuzzhelp.h"
#include "platform/keystore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setenv(kKeyStoreEnv, fuzzPrivateFolder().c_str(), 1);
    fuzzWriteFile("user.keys", data, size);
    int subkeys = keystoreSubkeyCount(kKeyRootUser, "");
    if (subkeys < 0) return 0;  // not a key store: refused with a code
    std::string text;
    for (int32_t i = 0; i < subkeys && i < 8; ++i) {
        fuzzCheck(keystoreSubkeyName(kKeyRootUser, "", i, &text) == kKeyFound, "a counted subkey is missing");
        fuzzCheck(keystoreKeyExists(kKeyRootUser, text.c_str()) == kKeyFound,
                  "a listed subkey does not exist");
        keystoreGetValue(kKeyRootUser, text.c_str(), nullptr, &text);
    }
    const char* value = "a \"quoted\"\\ value\n\tsecond line";
    fuzzCheck(keystoreSetValue(kKeyRootUser, "Fuzz\\Check", "Name", value) == kKeyFound,
              "a store took no change");
    fuzzCheck(keystoreGetValue(kKeyRootUser, "fuzz\\check", "name", &text) == kKeyFound && text == value,
              "a value does not read back");
    fuzzCheck(keystoreSubkeyCount(kKeyRootUser, "") >= subkeys, "a change lost a key");
    return 0;
}
