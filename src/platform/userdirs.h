// The user's folders: where application data lives for one user and for all
// users, folder creation by absolute path, and %NAME% environment expansion.
#pragma once

#include <string>

// The user's data folder: $XDG_DATA_HOME when absolute, else $HOME/.local/share;
// empty when neither is known. The folder need not exist yet.
std::string userdirsUserData();

// The data folder shared by all users: the first absolute entry of $XDG_DATA_DIRS,
// else "/usr/local/share".
std::string userdirsCommonData();

// The user's configuration folder: $XDG_CONFIG_HOME when absolute, else
// $HOME/.config; empty when neither is known.
std::string userdirsUserConfig();

// Creates a folder and every missing level above it, never moving the process's
// current folder. 1 when the folder exists afterwards, 0 otherwise.
int userdirsMakePath(const char* path);

// Replaces every %NAME% whose environment variable is set by its value; any
// other "%" stays as it is.
std::string userdirsExpandVars(const char* text);
