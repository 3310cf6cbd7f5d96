// The record emitters: each builds one zero-filled NcRecord (or a move and its
// companion), cuts its texts to their fields and emits it with ncEmit. Each
// returns the result of its last ncEmit (0 when it emitted nothing).
#pragma once

#include <cstdint>

#include "kernel/ncout/record.h"

// A record of a type with a name and a value text, each cut to its field.
int ncEmitText(CycleRecord* record, uint16_t channel, int32_t type, const char* name, const char* value);
int ncError(CycleRecord* record, const char* text);  // 101 on channel 0
// "number,value" as 101 on channel 0 whatever the message level: a failure the host must hear (an
// output that is lost, a run ended by a fault). Builds its text without allocating.
int ncErrorNumber(CycleRecord* record, int32_t number, const char* value);
int ncComment(CycleRecord* record, const char* text);      // 1001 on channel 2
int ncCommentText(CycleRecord* record, const char* text);  // 4101 on channel 32; nothing when empty
int ncWriteComments(CycleRecord* record);                  // "comment_1".."comment_<lastComment>"

int ncSetVariable(CycleRecord* record, const char* name, const char* value);  // 301 on channel 10
int ncSetFeedVariable(CycleRecord* record, const char* name, double number);
int ncAliasDef(CycleRecord* record, const char* a, const char* b, const char* c, const char* d);
int ncTr5X(CycleRecord* record);
int ncTr5X0(CycleRecord* record);
int ncAssignRecord(CycleRecord* record, const char* name, const char* value);  // 3131 on 31, 203 on 1
int ncToolAxis(CycleRecord* record, double i, double j, double k);             // 3131 on channel 11
int ncWriteToolAxisFromFrame(CycleRecord* record, double i, double j, double k);

int ncBlockBeginId(CycleRecord* record, uint32_t number, const char* text2, const char* text3);
int ncBlockEndId(CycleRecord* record, uint32_t number, const char* text2, const char* text3);
int ncBlockBeginName(CycleRecord* record, const char* name, const char* text2, const char* text3);
int ncBlockEndName(CycleRecord* record, const char* name, const char* text2, const char* text3);
int ncBlockValue5003(CycleRecord* record, uint32_t number);
int ncBlockRecord5004(CycleRecord* record);

int ncPathBegin(CycleRecord* record, const char* name, const char* comment, const char* uText);
int ncPathEnd(CycleRecord* record);
int ncMove3101(CycleRecord* record, double x, double y);
int ncMove3102(CycleRecord* record, double z);
int ncMove3111(CycleRecord* record, double x, double y);
int ncMove3112(CycleRecord* record, double z);
int ncMove3113(CycleRecord* record, double x, double y, double z);
// direction 1: clockwise (companion 4008), otherwise counter-clockwise (4009).
int ncMove3121(CycleRecord* record, int32_t direction, double endX, double endY, double centreX,
               double centreY);
// Five-axis moves: only what changed against the caller's last position and
// axis (compared as output texts) is flagged; the last values follow. Nothing
// is emitted when nothing changed.
void ncMove3107(CycleRecord* record, double* lastX, double* lastY, double* lastZ, double x, double y,
                double z, double* lastI, double* lastJ, double* lastK, double i, double j, double k);
void ncMove3114(CycleRecord* record, double* lastX, double* lastY, double* lastZ, double x, double y,
                double z, double* lastI, double* lastJ, double* lastK, double i, double j, double k);

int ncPathBegin41(CycleRecord* record, const char* name, const char* comment, const char* uText);
int ncPathEnd41(CycleRecord* record);
int ncPoint3103(CycleRecord* record, double x, double y, double z);
int ncPoint3113(CycleRecord* record, double x, double y, double z);
int ncRecord7001(CycleRecord* record, double x, double y, double z);
