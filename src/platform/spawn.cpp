#include "platform/spawn.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

namespace {

bool splitCommandLine(const char* line, std::vector<std::string>* words) {
    words->clear();
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char* p = line; *p; ++p) {
        char c = *p;
        if (c == '\\' && p[1] == '"') {
            word += '"';
            inWord = true;
            ++p;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;  // "" is an empty word of its own
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words->push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words->push_back(word);
    return !words->empty() && !words->front().empty();
}

}  // namespace

int32_t spawnStart(const char* commandLine) {
    std::vector<std::string> words;
    if (!commandLine || !splitCommandLine(commandLine, &words)) return 0;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 0;
    return int32_t(pid);
}

int spawnWait(int32_t pid, int* exitCode) {
    if (pid <= 0) return -1;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_t(pid), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid_t(pid)) return -1;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    if (exitCode) *exitCode = code;
    return 1;
}
