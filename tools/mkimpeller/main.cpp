// mkimpeller: writes the example impeller (hub, shroud, blade and splitter surfaces as kvx files) and
// its plunge-roughing job file into one folder.
#include <cstdio>
#include <string>

#include "impeller.h"

int main(int argc, char** argv) {
    ImpellerOptions opt;
    std::string message;
    const int rc = impParseOptions(argc - 1, argv + 1, &opt, &message);
    if (rc == 0) {
        std::fputs(message.c_str(), stdout);
        return 0;
    }
    if (rc < 0 || impWriteAll(opt, &message) != 1) {
        std::fprintf(stderr, "mkimpeller: %s\n", message.c_str());
        return 2;
    }
    return 0;
}
