#include "kernel/base/appdata/appdata.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "kernel/base/runreset.h"
#include "platform/keystore.h"
#include "platform/module.h"
#include "platform/spawn.h"
#include "platform/userdirs.h"

namespace {

const char* const kMakerKey = "Software\\Corvane";
const char* const kMakerFolder = "/Corvane/";
const char* const kAboutApp = "About Corvane";

void copyKey(char* target, size_t capacity, const char* source) {
    size_t n = source ? strnlen(source, capacity - 1) : 0;
    if (n) memcpy(target, source, n);
    target[n] = '\0';
}

bool okBuffer(const char* buffer, int32_t size) {
    return buffer && size > 0;
}

// Copies as much as fits (size - 1 characters); returns the length copied.
int copyOut(char* buffer, int32_t size, const std::string& text) {
    if (!okBuffer(buffer, size)) return 0;
    size_t n = text.size() < size_t(size) ? text.size() : size_t(size) - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return int(n);
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool sameChar(char a, char b) {
    if (isSeparator(a) && isSeparator(b)) return true;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
}

// Two spellings of one folder are recognised by what they hold: the same file,
// judged by its size and modification time, must be found through both.
bool sameFileStatus(const std::string& x, const std::string& y) {
    struct stat sx = {};
    struct stat sy = {};
    if (stat(x.c_str(), &sx) != 0 || stat(y.c_str(), &sy) != 0) return false;
    return sx.st_size == sy.st_size && sx.st_mtim.tv_sec == sy.st_mtim.tv_sec &&
           sx.st_mtim.tv_nsec == sy.st_mtim.tv_nsec;
}

int storeValue(int32_t root, const std::string& key, const char* name, std::string* value) {
    return keystoreGetValue(root, key.c_str(), name, value);
}

int listCount(const KvList* list) {
    int n = 0;
    for (; list; list = list->next) ++n;
    return n;
}

KvList* removeFirst(KvList* list, const char* key) {
    if (!key) return list;
    for (KvList** link = &list; *link; link = &(*link)->next) {
        if (strcmp((*link)->key, key) == 0) {
            KvList* node = *link;
            *link = node->next;
            free(node->key);
            free(node->value);
            free(node);
            break;
        }
    }
    return list;
}

bool listValue(const KvList* list, const char* key, std::string* value) {
    char* found = kvListGet(list, key, nullptr);
    if (!found) return false;
    *value = found;
    free(found);
    return true;
}

}  // namespace

ComAppData::ComAppData(const char* appKey, const char* releaseKey)
    : enumRoot_(0), enumIndex_(0), userValues_(nullptr), commonValues_(nullptr), localValues_(nullptr) {
    copyKey(appKey_, sizeof appKey_, appKey);
    copyKey(releaseKey_, sizeof releaseKey_, releaseKey);
}

ComAppData::~ComAppData() {
    closeEnum();
    kvListFree(userValues_);
    kvListFree(commonValues_);
    kvListFree(localValues_);
}

void ComAppData::closeEnum() {
    enumRoot_ = 0;
    enumKey_.clear();
    enumIndex_ = 0;
}

void ComAppData::setKeys(const char* appKey, const char* releaseKey) {
    copyKey(appKey_, sizeof appKey_, appKey);
    copyKey(releaseKey_, sizeof releaseKey_, releaseKey);
}

const char* ComAppData::appKey() {
    return appKey_;
}

const char* ComAppData::releaseKey() {
    return releaseKey_;
}

// --- key-store paths ---------------------------------------------------------

namespace {

std::string appStoreKey(const char* app, const char* release) {
    return std::string(kMakerKey) + "\\" + app + "\\" + release;
}

std::string launcherStoreKey(const char* release) {
    return std::string(kMakerKey) + "\\Vestibar\\" + release + "\\Applications";
}

std::string dataFolder(const std::string& base, const char* app, const char* release) {
    return base + kMakerFolder + app + "/" + release;
}

}  // namespace

int ComAppData::findKeysByModulePath(const char* modulePath) {
    if (!modulePath) return 0;
    std::string app, release, path;
    for (int32_t a = 0; keystoreSubkeyName(kKeyRootMachine, kMakerKey, a, &app) == kKeyFound; ++a) {
        std::string appKeyPath = std::string(kMakerKey) + "\\" + app;
        for (int32_t r = 0; keystoreSubkeyName(kKeyRootMachine, appKeyPath.c_str(), r, &release) == kKeyFound;
             ++r) {
            if (storeValue(kKeyRootMachine, appKeyPath + "\\" + release, "Path", &path) != kKeyFound)
                continue;
            if (path.size() >= 512) continue;  // longer than a value this entry may hold
            if (samePath(path.c_str(), modulePath) == 0) {
                setKeys(app.c_str(), release.c_str());
                return 0;
            }
        }
    }
    return 0;
}

int ComAppData::samePath(const char* a, const char* b) {
    if (!a || !b) return kAppNotFound;
    size_t k = 0, i = 0;
    for (size_t p = 0; a[p]; ++p) {
        if (isSeparator(a[p])) {
            ++k;
            i = p;
        }
    }
    size_t seen = 0, j = 0;
    for (size_t p = 0; b[p] && seen < k; ++p) {
        if (isSeparator(b[p])) {
            ++seen;
            j = p;
        }
    }
    // Without a separator there is no folder to compare, and an empty prefix would match anything.
    if (k == 0 || seen == 0) return kAppNotFound;
    size_t lenA = strlen(a), lenB = strlen(b);
    bool prefixEqual = lenB > i;
    for (size_t p = 0; prefixEqual && p < i; ++p) prefixEqual = sameChar(a[p], b[p]);
    // The folder must end where a's does: "/opt/cyc" is not a folder of "/opt/cycles/x".
    if (prefixEqual && isSeparator(b[i])) return 0;

    std::string c = std::string(a, i) + std::string(b + j, lenB - j);
    if (!sameFileStatus(c, b)) return kAppNotFound;
    std::string d = std::string(b, j) + std::string(a + i, lenA - i);
    if (!sameFileStatus(d, a)) return kAppNotFound;
    return 0;
}

int ComAppData::getInstallPath(char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return kAppBadArgument;
    if (!haveKeys()) return kAppNoKeys;
    std::string path;
    if (storeValue(kKeyRootMachine, appStoreKey(appKey_, releaseKey_), "Path", &path) != kKeyFound) {
        return kAppNoEntry;
    }
    copyOut(buffer, size, path);
    return path.empty() ? kAppEmptyPath : kAppOk;
}

int ComAppData::getServicePack(char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return kAppBadArgument;
    if (!haveKeys()) return kAppNoKeys;
    std::string pack;
    if (storeValue(kKeyRootMachine, appStoreKey(appKey_, releaseKey_), "ServicePack", &pack) != kKeyFound) {
        return kAppNoEntry;
    }
    trimBlanks(pack.data());
    pack.resize(strlen(pack.c_str()));
    copyOut(buffer, size, pack);
    return pack.empty() ? kAppEmptyPack : kAppOk;
}

int ComAppData::getLanguage(char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return kAppBadArgument;
    copyOut(buffer, size, "english");
    if (!releaseKey_[0]) return kAppNoRelease;
    std::string keys[2];
    int n = 0;
    if (appKey_[0]) keys[n++] = appStoreKey(appKey_, releaseKey_) + "\\Configuration";
    keys[n++] = std::string(kMakerKey) + "\\common\\" + releaseKey_ + "\\Configuration";
    std::string language;
    for (int k = 0; k < n; ++k) {
        for (int32_t root : {kKeyRootUser, kKeyRootMachine}) {
            if (storeValue(root, keys[k], "Language", &language) == kKeyFound) {
                copyOut(buffer, size, language);
                return kAppOk;
            }
        }
    }
    return kAppNoEntry;
}

int ComAppData::getTempDir(char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return kAppBadArgument;
    int result = kAppNoKeys;
    if (haveKeys()) {
        result = kAppNotFound;
        std::string base = userdirsUserData();
        if (!base.empty()) {
            std::string folder = dataFolder(base, appKey_, releaseKey_) + "/temp";
            if (userdirsMakePath(folder.c_str()) &&
                base.size() + strlen(appKey_) + strlen(releaseKey_) + 18 <= size_t(size)) {
                copyOut(buffer, size, folder + "/");
                return kAppOk;
            }
        }
    }
    // An empty TEMP would name the current folder, which is no temporary folder.
    const char* temp = getenv("TEMP");
    if (temp && *temp && strlen(temp) < size_t(size)) {
        copyOut(buffer, size, temp);
        return kAppOk;
    }
    // Last resort, also when TEMP is not set at all: a folder in the current folder.
    mkdir("ad_temp", 0777);
    const std::string lastResort = "ad_temp";
    if (lastResort.size() < size_t(size)) {
        copyOut(buffer, size, lastResort);
    } else {
        buffer[0] = '\0';
    }
    return result;
}

int ComAppData::getEnvTempDir(char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return kAppBadArgument;
    const char* temp = getenv("TEMP");
    // Room for the added separator as well as the terminator.
    if (!temp || !*temp || strlen(temp) + 1 >= size_t(size)) return kAppNotFound;
    copyOut(buffer, size, std::string(temp) + "/");
    return kAppOk;
}

int ComAppData::getConfigFilePath(int32_t kind) {
    if (!haveKeys()) return 0;
    std::string file;
    KvList** list = nullptr;
    uint16_t origin = 0;
    if (kind == kAppCfgInstall) {
        char path[1024];
        if (getInstallPath(path, sizeof path) != kAppOk) return 0;
        char* cut = nullptr;
        for (char* p = path; *p; ++p) {
            if (isSeparator(*p)) cut = p;
        }
        // Without a folder the name would be looked up in whatever the current folder is.
        if (!cut) return 0;
        file = std::string(path, cut + 1) + appKey_ + ".cfg";
        list = &localValues_;
        origin = kAppOriginInstall;
    } else if (kind == kAppCfgCommon || kind == kAppCfgUser) {
        std::string base = kind == kAppCfgCommon ? userdirsCommonData() : userdirsUserData();
        if (base.empty()) return 0;
        file = dataFolder(base, appKey_, releaseKey_) + "/" + appKey_ + ".cfg";
        list = kind == kAppCfgCommon ? &commonValues_ : &userValues_;
        origin = kind == kAppCfgCommon ? kAppOriginCommon : kAppOriginUser;
    } else {
        return 0;
    }
    if (access(file.c_str(), R_OK) != 0) return 0;
    *list = kvListLoad(*list, file.c_str(), origin);
    return listCount(*list);
}

int ComAppData::createConfigFiles() {
    if (!haveKeys()) return kAppNoKeys;
    getConfigFilePath(kAppCfgInstall);
    getConfigFilePath(kAppCfgCommon);
    getConfigFilePath(kAppCfgUser);
    return kAppOk;
}

int ComAppData::writeUserConfig() {
    if (!haveKeys()) return kAppNoKeys;
    std::string base = userdirsUserData();
    if (base.empty()) return 0;
    std::string folder = dataFolder(base, appKey_, releaseKey_);
    // A folder that cannot be made shows as the write's own failure.
    userdirsMakePath(folder.c_str());
    std::string file = folder + "/" + appKey_ + ".cfg";
    return kvListWrite(file.c_str(), userValues_);
}

int ComAppData::getConfigValue(const char* name, char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return 0;
    buffer[0] = '\0';
    if (!name) return 0;

    const char* sub = nullptr;
    if (strcmp(name, "helpPath") == 0) sub = "doc";
    if (strcmp(name, "profilePath") == 0) sub = "profiles";
    if (strcmp(name, "tempDir") == 0) {
        sub = "tmp";
        if (getTempDir(buffer, size) == kAppOk) return int(strlen(buffer));
        buffer[0] = '\0';
    }
    if (sub) {
        char path[1024];
        if (getInstallPath(path, sizeof path) == kAppOk) {
            // Cut after the third separator from the end: the install path's release folder's parent.
            int seen = 0;
            for (size_t p = strlen(path); p-- > 0;) {
                if (isSeparator(path[p]) && ++seen == 3) {
                    std::string derived = std::string(path, p + 1) + sub + "/" + releaseKey_;
                    if (derived.size() < size_t(size)) return copyOut(buffer, size, derived);
                    break;
                }
            }
        }
    }

    std::string value;
    std::string configKey = appStoreKey(appKey_, releaseKey_) + "\\Configuration";
    bool found = haveKeys() && storeValue(kKeyRootUser, configKey, name, &value) == kKeyFound;
    if (!found) found = listValue(userValues_, name, &value);
    if (!found) found = haveKeys() && storeValue(kKeyRootMachine, configKey, name, &value) == kKeyFound;
    if (!found) found = listValue(commonValues_, name, &value);
    if (!found) found = listValue(localValues_, name, &value);
    return found ? copyOut(buffer, size, value) : 0;
}

int ComAppData::setConfigValue(const char* name, const char* value, int32_t where) {
    if (where != 1) {
        userValues_ = kvListSet(userValues_, name, value, kAppOriginSet);
        return kAppOk;
    }
    if (!haveKeys()) return kAppNoKeys;
    if (!name || !value) return kAppBadArgument;
    std::string configKey = appStoreKey(appKey_, releaseKey_) + "\\Configuration";
    return keystoreSetValue(kKeyRootUser, configKey.c_str(), name, value) == kKeyFound ? kAppOk : kAppNoEntry;
}

int ComAppData::deleteConfigValue(const char* name) {
    userValues_ = removeFirst(userValues_, name);
    if (!haveKeys()) return kAppNoKeys;
    if (!name) return kAppBadArgument;
    std::string configKey = appStoreKey(appKey_, releaseKey_) + "\\Configuration";
    return keystoreDeleteValue(kKeyRootUser, configKey.c_str(), name) == kKeyFound ? kAppOk : kAppNoEntry;
}

int ComAppData::setLocalValue(const char* name, const char* value) {
    localValues_ = kvListSet(localValues_, name, value, kAppOriginLocal);
    return kAppOk;
}

// --- launcher entries ---------------------------------------------------------

int ComAppData::registerAppUser(const char* name, const char* defaultValue, const char* path) {
    return registerApp(kKeyRootUser, name, defaultValue, path);
}

int ComAppData::registerAppMachine(const char* name, const char* defaultValue, const char* path) {
    return registerApp(kKeyRootMachine, name, defaultValue, path);
}

int ComAppData::registerApp(int32_t root, const char* name, const char* defaultValue, const char* path) {
    if (!haveKeys()) return kAppNoKeys;
    // An empty name would put the entry's values on the Applications key itself.
    if (!name || !*name) return kAppNoEntry;
    std::string key = launcherStoreKey(releaseKey_) + "\\" + name;
    if (keystoreSetValue(root, key.c_str(), nullptr, defaultValue ? defaultValue : "") != kKeyFound ||
        keystoreSetValue(root, key.c_str(), "Path", path ? path : "") != kKeyFound) {
        return kAppNoEntry;
    }
    return kAppOk;
}

int ComAppData::showAbout(const char* argument) {
    if (!argument) return kAppNotFound;
    char path[1024];
    if (getLauncherAppPath(kAboutApp, path, sizeof path) != kAppOk) return kAppNotFound;
    std::string command = std::string(path) + " -x:" + argument;
    return startProcessAndWait(command.c_str());
}

int ComAppData::launchByName(const char* firstName, const char* secondName, const char* argument,
                             int32_t* processId) {
    char path[510];
    int result = kAppNotFound;
    if (firstName) result = getLauncherAppPath(firstName, path, sizeof path);
    if (result != kAppOk && secondName) result = getLauncherAppPath(secondName, path, sizeof path);
    if (result != kAppOk) return result;
    char command[1024];
    if (buildCommandLine(command, sizeof command, path, argument) != kAppOk) return kAppNotFound;
    int32_t pid = startProcess(command);
    if (processId) *processId = pid;
    return result;
}

int ComAppData::getLauncherAppPath(const char* name, char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return kAppBadArgument;
    if (!releaseKey_[0]) return kAppNoRelease;
    if (!name || !*name) return kAppNoEntry;
    std::string key = launcherStoreKey(releaseKey_) + "\\" + name;
    std::string path;
    for (int32_t root : {kKeyRootUser, kKeyRootMachine}) {
        if (storeValue(root, key, "Path", &path) == kKeyFound) {
            copyOut(buffer, size, path);
            return kAppOk;
        }
    }
    if (name[0] == '.' && getOpenCommand(name, buffer, size) == kAppOk) return kAppOk;
    return kAppNoEntry;
}

namespace {

// The classes root joins the user's file types with the machine's; the user's come first.
bool classesDefault(const std::string& key, std::string* value) {
    for (int32_t root : {kKeyRootUser, kKeyRootMachine}) {
        if (storeValue(root, "Software\\Classes\\" + key, nullptr, value) == kKeyFound) return true;
    }
    return false;
}

bool findOpenCommand(const char* extension, std::string* command) {
    const std::string open = "\\shell\\open\\command";
    std::string type;
    if (storeValue(kKeyRootMachine, std::string("software\\classes\\") + extension, nullptr, &type) ==
            kKeyFound &&
        !type.empty() &&
        storeValue(kKeyRootMachine, "software\\classes\\" + type + open, nullptr, command) == kKeyFound) {
        return true;
    }
    if (classesDefault(std::string(extension + 1) + "file" + open, command)) return true;
    return classesDefault(extension, &type) && !type.empty() && classesDefault(type + open, command);
}

}  // namespace

int ComAppData::getOpenCommand(const char* extension, char* buffer, int32_t size) {
    if (!okBuffer(buffer, size)) return kAppBadArgument;
    std::string command;
    if (!extension || !*extension || !findOpenCommand(extension, &command)) return kAppNotFound;
    std::string expanded = userdirsExpandVars(command.c_str());
    // A cut command would start some other program.
    if (expanded.size() >= size_t(size)) {
        buffer[0] = '\0';
        return kAppNotFound;
    }
    copyOut(buffer, size, expanded);
    return kAppOk;
}

int ComAppData::unregisterApp(const char* name) {
    if (!releaseKey_[0]) return kAppNoRelease;
    // An empty name would delete the whole Applications key.
    if (!name || !*name) return kAppNoEntry;
    std::string key = launcherStoreKey(releaseKey_) + "\\" + name;
    return keystoreDeleteKey(kKeyRootUser, key.c_str()) == kKeyFound ? kAppOk : kAppNoEntry;
}

int ComAppData::enumAppsUser() {
    return enumApps(kKeyRootUser);
}

int ComAppData::enumAppsMachine() {
    return enumApps(kKeyRootMachine);
}

int ComAppData::enumApps(int32_t root) {
    if (!releaseKey_[0]) return kAppNoRelease;
    int count = keystoreSubkeyCount(root, launcherStoreKey(releaseKey_).c_str());
    return count > 0 ? count : 0;
}

int ComAppData::findAppUser(char* name, int32_t nameSize, char* value, int32_t valueSize, char* path,
                            int32_t pathSize) {
    return findApp(kKeyRootUser, name, nameSize, value, valueSize, path, pathSize);
}

int ComAppData::findAppMachine(char* name, int32_t nameSize, char* value, int32_t valueSize, char* path,
                               int32_t pathSize) {
    return findApp(kKeyRootMachine, name, nameSize, value, valueSize, path, pathSize);
}

int ComAppData::readEnumEntry(int32_t index, char* name, int32_t nameSize, char* value, int32_t valueSize,
                              char* path, int32_t pathSize) {
    std::string sub;
    if (keystoreSubkeyName(enumRoot_, enumKey_.c_str(), index, &sub) != kKeyFound) return kAppEnumEnd;
    std::string key = enumKey_ + "\\" + sub;
    std::string text;
    copyOut(name, nameSize, sub);
    if (storeValue(enumRoot_, key, nullptr, &text) != kKeyFound) text.clear();
    copyOut(value, valueSize, text);
    if (storeValue(enumRoot_, key, "Path", &text) != kKeyFound) text.clear();
    copyOut(path, pathSize, text);
    return kAppOk;
}

int ComAppData::findApp(int32_t root, char* name, int32_t nameSize, char* value, int32_t valueSize,
                        char* path, int32_t pathSize) {
    closeEnum();
    if (!releaseKey_[0]) return kAppNoRelease;
    std::string key = launcherStoreKey(releaseKey_);
    if (keystoreKeyExists(root, key.c_str()) != kKeyFound) return kAppEnumEnd;
    enumRoot_ = root;
    enumKey_ = key;
    if (readEnumEntry(0, name, nameSize, value, valueSize, path, pathSize) != kAppOk) {
        closeEnum();
        return kAppEnumEnd;
    }
    enumIndex_ = 1;
    return kAppOk;
}

int ComAppData::findNextApp(char* name, int32_t nameSize, char* value, int32_t valueSize, char* path,
                            int32_t pathSize) {
    if (!enumRoot_) return kAppEnumEnd;
    if (readEnumEntry(enumIndex_, name, nameSize, value, valueSize, path, pathSize) != kAppOk) {
        closeEnum();
        return kAppEnumEnd;
    }
    ++enumIndex_;
    return kAppOk;
}

int ComAppData::reserved31(const void*, const void*) {
    return 0;
}

int ComAppData::reserved32(const void*, const void*) {
    return 0;
}

int ComAppData::reserved33() {
    return 0;
}

// --- programs ---------------------------------------------------------------

int ComAppData::buildCommandLine(char* output, int32_t size, const char* pattern, const char* argument) {
    if (!okBuffer(output, size)) return kAppBadArgument;
    if (!pattern) pattern = "";
    if (!argument) argument = "";
    std::string line;
    bool placed = false;
    for (const char* p = pattern; *p;) {
        if (p[0] == '%' && p[1] == '1') {
            line += argument;
            placed = true;
            p += 2;
        } else {
            line += *p++;
        }
    }
    if (!placed && *argument) line = line + " \"" + argument + "\"";
    // A cut command line would run something else.
    if (line.size() >= size_t(size)) {
        output[0] = '\0';
        return kAppNotFound;
    }
    copyOut(output, size, line);
    return kAppOk;
}

int32_t ComAppData::startProcess(const char* commandLine) {
    return spawnStart(commandLine);
}

int ComAppData::startProcessAndWait(const char* commandLine) {
    int32_t pid = spawnStart(commandLine);
    // A program that never started is no success.
    if (!pid) return kAppNotFound;
    spawnWait(pid, nullptr);
    return kAppOk;
}

// --- the library's instance ---------------------------------------------------

void trimBlanks(char* text) {
    if (!text) return;
    size_t start = 0, end = strlen(text);
    while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
    while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    memmove(text, text + start, end - start);
    text[end - start] = '\0';
    if (strcmp(text, "0") == 0) text[0] = '\0';
}

ComAppData& appDataGlobal() {
    static ComAppData instance("CYCLES", "0.0");
    return instance;
}

void readCyclesCfg(const char* modulePath) {
    if (!modulePath) return;
    ComAppData& app = appDataGlobal();
    const char* sep = nullptr;
    for (const char* p = modulePath; *p; ++p) {
        if (isSeparator(*p)) sep = p;
    }
    KvList* list = nullptr;
    if (sep) {
        std::string file = std::string(modulePath, sep + 1) + "cycles.cfg";
        list = kvListLoad(nullptr, file.c_str(), kAppOriginLocal);
    }
    char* appKey = kvListGet(list, "applicationKey", nullptr);
    char* releaseKey = kvListGet(list, "releaseKey", nullptr);
    if (appKey && releaseKey) {
        app.setKeys(appKey, releaseKey);
    } else {
        app.findKeysByModulePath(modulePath);
    }
    free(appKey);
    free(releaseKey);
    kvListFree(list);
}

void appDataResetState() {
    ComAppData& app = appDataGlobal();
    app.closeEnum();
    kvListFree(app.userValues_);
    kvListFree(app.commonValues_);
    kvListFree(app.localValues_);
    app.userValues_ = app.commonValues_ = app.localValues_ = nullptr;
    app.setKeys("CYCLES", "0.0");
}
static const LoadReset gLoadReset(kRunResetBase, "appData", appDataResetState);

namespace {

// Runs when the library is loaded. Only reads: a missing "cycles.cfg" or key store
// leaves the load-time keys, and nothing here may end or disturb the host process.
struct LoadTimeSettings {
    LoadTimeSettings() {
        try {
            appDataGlobal();
            std::string file = moduleFileName();
            if (!file.empty()) readCyclesCfg(file.c_str());
        } catch (...) {
        }
    }
};

LoadTimeSettings loadTimeSettings;

}  // namespace
