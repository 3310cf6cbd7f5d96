// Where the offset library looks for its debug switch. The name is kept as the
// library has always spelled it; here it is a plain file of that name in the
// working folder. The environment variable, when set, names another file (tests
// use it to switch debug mode without touching the working folder).
#pragma once

constexpr char kWogDebugInfoFile[] = "c:\\wogdebug.info";
constexpr char kWogDebugInfoEnv[] = "KV_WOGDEBUG_INFO";
