// kvx exchange files: the object data a host hands to a cycle (surfaces,
// contours, polyhedra, tool contours). A file opens with a four-line header
// and then holds records, read one at a time: variables "v name(value)",
// objects "o name[id](key[value] ...)", methods "m name[id](body)" and the
// scope marks "{" and "}"; ";" starts a comment between records.
#pragma once

#include <cstdint>
#include <cstdio>

// The first line of every exchange file. Readers, writers, tests and the
// bundled example files all use this one constant.
constexpr char kKvxBanner[] = "kVX-Exchange-File";
// The second line begins with this and carries "major.minor".
constexpr char kKvxVersionTag[] = "kVX-Version:";

// Longest method body held in memory; a longer one stays in the file.
constexpr size_t kKvxBodyMax = 4351;

struct KvxHeader {
    char* line3;  // owned
    uint16_t major;
    uint16_t minor;
    char* line4;  // owned
};

struct KvxParam {
    char* key;    // owned; null for a method body
    char* value;  // owned; null when the parameter has no value
    KvxParam* next;
};

struct KvxRecord {
    int32_t type;  // 'v', 'o', 'm', '{', '}'; 0 when empty
    char* name;    // owned or null
    char* id;      // owned or null; a variable's value
    KvxParam* params;
    FILE* file;         // set when a method body stayed in the file
    int64_t bodyStart;  // offset of the first character after the body's "(", or -1
    int64_t bodyEnd;    // offset just behind the body's ")", or -1
};

// Opens the file ("| stdin" is standard input, "~" stands for $HOME) and reads
// and tests the header into `header`. The open file when the header is
// accepted (versions 0.x and 1.0), else null with the file closed and the
// header's texts freed (its version numbers stay); always null without a header.
FILE* kvxOpen(const char* fileName, KvxHeader* header);
void kvxHeaderFree(KvxHeader* header);  // frees the texts; numbers 0

// Empties the record and reads the next one: 1 when one was read; 0 at the end
// of the file, after any error (the record is then discarded) and for a
// missing argument. Each method name that is followed by a blank, a line end
// or ";" appends a trace line to "QJW.TXT" in the current folder.
int kvxReadRecord(FILE* file, KvxRecord* record);

// Frees the record's texts and parameters and empties it; accepts null.
void kvxRecordReset(KvxRecord* record);
