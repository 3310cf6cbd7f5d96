// Application settings: an application known by its application and release
// keys, its install path, language, folders and configuration values, the
// launcher entries of the maker's applications, and starting other programs.
// Settings live in the key store (platform/keystore.h) under "Software\Corvane"
// of the user and machine roots, and in "%s.cfg" parameter files under the data
// folders "<data>/Corvane/<application>/<release>/".
#pragma once

#include <cstdint>
#include <string>

#include "kernel/base/kvx/kvlist.h"

enum : int {
    kAppOk = 0,
    kAppEnumEnd = -1,      // no (further) launcher entry
    kAppNoKeys = -3,       // the application or the release key is empty
    kAppNoRelease = -4,    // the release key is empty
    kAppNoEntry = -5,      // a store key or value is missing or cannot be written
    kAppEmptyPath = -6,    // the install path is empty
    kAppEmptyPack = -7,    // the service pack is empty
    kAppNotFound = -8,     // missing environment, path, command, or a text that does not fit
    kAppBadArgument = -9,  // a missing buffer or a buffer size below 1
};

// Origin types of the settings lists' pairs.
enum : uint16_t {
    kAppOriginLocal = 1,     // set with setLocalValue, or read from "cycles.cfg"
    kAppOriginSet = 2,       // set with setConfigValue in the user list
    kAppOriginInstall = 10,  // the "%s.cfg" beside the install path
    kAppOriginCommon = 20,   // the common "%s.cfg"
    kAppOriginUser = 21,     // the user's "%s.cfg"
};

// Kinds of getConfigFilePath.
enum : int32_t { kAppCfgInstall = 10, kAppCfgCommon = 20, kAppCfgUser = 21 };

class ComAppData {
  public:
    ComAppData(const char* appKey, const char* releaseKey);
    virtual ~ComAppData();
    ComAppData(const ComAppData&) = delete;
    ComAppData& operator=(const ComAppData&) = delete;

    virtual void setKeys(const char* appKey, const char* releaseKey);
    virtual int findKeysByModulePath(const char* modulePath);
    virtual int samePath(const char* a, const char* b);
    virtual int getInstallPath(char* buffer, int32_t size);
    virtual int getServicePack(char* buffer, int32_t size);
    virtual int getLanguage(char* buffer, int32_t size);
    virtual int getTempDir(char* buffer, int32_t size);
    virtual int getEnvTempDir(char* buffer, int32_t size);
    virtual int getConfigFilePath(int32_t kind);
    virtual int createConfigFiles();
    virtual int writeUserConfig();
    virtual int getConfigValue(const char* name, char* buffer, int32_t size);
    virtual int setConfigValue(const char* name, const char* value, int32_t where);
    virtual int deleteConfigValue(const char* name);
    virtual int setLocalValue(const char* name, const char* value);
    virtual int registerAppUser(const char* name, const char* defaultValue, const char* path);
    virtual int registerAppMachine(const char* name, const char* defaultValue, const char* path);
    virtual int registerApp(int32_t root, const char* name, const char* defaultValue, const char* path);
    virtual int showAbout(const char* argument);
    virtual int launchByName(const char* firstName, const char* secondName, const char* argument,
                             int32_t* processId);
    virtual int getLauncherAppPath(const char* name, char* buffer, int32_t size);
    virtual int getOpenCommand(const char* extension, char* buffer, int32_t size);
    virtual int unregisterApp(const char* name);
    virtual int enumAppsUser();
    virtual int enumAppsMachine();
    virtual int enumApps(int32_t root);
    virtual int findAppUser(char* name, int32_t nameSize, char* value, int32_t valueSize, char* path,
                            int32_t pathSize);
    virtual int findAppMachine(char* name, int32_t nameSize, char* value, int32_t valueSize, char* path,
                               int32_t pathSize);
    virtual int findApp(int32_t root, char* name, int32_t nameSize, char* value, int32_t valueSize,
                        char* path, int32_t pathSize);
    virtual int findNextApp(char* name, int32_t nameSize, char* value, int32_t valueSize, char* path,
                            int32_t pathSize);
    virtual int reserved31(const void* first, const void* second);
    virtual int reserved32(const void* first, const void* second);
    virtual int reserved33();
    // The template's "%1"s become the argument; without one, a non-empty argument is
    // appended as a blank and the argument in double quotes. 0, or -8 when the
    // result does not fit in size bytes (output emptied).
    virtual int buildCommandLine(char* output, int32_t size, const char* pattern, const char* argument);
    virtual int32_t startProcess(const char* commandLine);
    virtual int startProcessAndWait(const char* commandLine);
    virtual const char* appKey();
    virtual const char* releaseKey();

  private:
    friend void appDataResetState();
    bool haveKeys() const { return appKey_[0] && releaseKey_[0]; }
    void closeEnum();
    int readEnumEntry(int32_t index, char* name, int32_t nameSize, char* value, int32_t valueSize, char* path,
                      int32_t pathSize);

    char appKey_[80];
    char releaseKey_[16];
    int32_t enumRoot_;  // key-store root of the open launcher enumeration, 0 when none is open
    std::string enumKey_;
    int32_t enumIndex_;
    KvList* userValues_;
    KvList* commonValues_;
    KvList* localValues_;
};

// The library's instance, made for "CYCLES" / "0.0" when the library is loaded.
ComAppData& appDataGlobal();

// Sets the keys of the global instance from "cycles.cfg" beside the module file,
// or else from the key-store entry whose install path holds the module.
void readCyclesCfg(const char* modulePath);

// Removes blanks and tabs at both ends in place; a text that is then "0" becomes empty.
void trimBlanks(char* text);

// Gives the global instance back its load-time keys, closes its enumeration and frees its lists.
void appDataResetState();
