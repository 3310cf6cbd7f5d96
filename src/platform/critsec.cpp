#include "platform/critsec.h"

#include <map>
#include <mutex>
#include <string>

namespace {

// Map nodes never move, so a mutex handed out stays valid for the process.
std::mutex& namedMutex(const char* name) {
    static std::mutex tableLock;
    static std::map<std::string, std::mutex> table;
    std::lock_guard<std::mutex> guard(tableLock);
    return table[name ? name : ""];
}

}  // namespace

void critsecEnter(const char* name) {
    namedMutex(name).lock();
}

void critsecLeave(const char* name) {
    namedMutex(name).unlock();
}
