/* kvcycles: the host interface of the machining-cycle library.
 *
 * A host loads libkvcycles.so, fetches the cycle with kvCSgetCycle, runs it
 * with kvCSexecCycle and reads the outcome with kvCSgetSignal. During a run the
 * library hands every output record (an NcRecord of KVNC_RECORD_SIZE bytes,
 * little-endian) to the host's callbacks, together with its channel number.
 */
#ifndef KVCYCLES_H
#define KVCYCLES_H

#include <stdint.h>

#if defined(__GNUC__)
#define KVCYCLES_API __attribute__((visibility("default")))
#else
#define KVCYCLES_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The cycle: opaque to the host, which only passes it back. */
typedef struct KvCycle KvCycle;

/* A host callback: called with the running cycle, the channel number, the
 * output record (KVNC_RECORD_SIZE bytes, valid only during the call) and the
 * user data of its pair. A result of 0 is reported as a refused record. */
typedef int (*KvHostFn)(KvCycle* cycle, int32_t channel, const void* record, void* user);

/* Three {function, user data} pairs; any function may be null.
 * Pair 1 serves channels 0, 10, 11, 12, 31, 35, 41 and 42; pair 2 channels
 * 0, 1 and 2; pair 3 channels 3 and 40. Channel 0 reaches pair 1, then pair 2. */
typedef struct HostCallbacks {
    KvHostFn fn1;
    void* data1;
    KvHostFn fn2;
    void* data2;
    KvHostFn fn3;
    void* data3;
} HostCallbacks;

/* Host signal word values. */
#define KV_SIGNAL_CANCEL 100

/* Status word values read by kvCSgetSignal after a run. */
#define KV_STATUS_OK 0
#define KV_STATUS_FAILED 1
#define KV_STATUS_CANCELLED 100

/* The library's cycle; the same pointer on every call. */
KVCYCLES_API KvCycle* kvCSgetCycle(void);

/* Runs a cycle (null: the library's cycle) with an argument vector and the
 * host's callbacks. Returns 1 when the cycle started (the outcome is then in
 * the status word), 0 when it did not.
 *
 * One cycle runs at a time per process: the cycles keep their working state in
 * the library, not in the cycle. A call while another thread's run is open
 * returns 0 at once and starts nothing, and so does a call from inside a
 * callback that would run the running cycle again. */
KVCYCLES_API int32_t kvCSexecCycle(KvCycle* cycle, int32_t argc, char** argv, HostCallbacks* callbacks);

/* Writes the signal word and returns the previous one. KV_SIGNAL_CANCEL asks
 * a running cycle to stop; it may be written from inside a callback or from
 * another thread. The library never clears the word: a cancel stays until the
 * host writes 0, which it does before each run (a word of KV_SIGNAL_CANCEL
 * left from a cancelled run stops the next run at once). */
KVCYCLES_API int32_t kvCSsetSignal(KvCycle* cycle, int32_t value);

/* The status word of the last run: KV_STATUS_OK, KV_STATUS_FAILED or
 * KV_STATUS_CANCELLED; any thread may read it. */
KVCYCLES_API int32_t kvCSgetSignal(KvCycle* cycle);

/* ---- NcRecord layout: byte offsets into the record, little-endian ---- */

#define KVNC_RECORD_SIZE 784

/* Common head: every record. */
#define KVNC_TYPE 0 /* int32 record type */

/* Text layout: types 101-112, 201-204, 301, 1001, 3001, 3131, 4101. */
#define KVNC_TEXT_NAME 8    /* char[256], zero-terminated */
#define KVNC_TEXT_VALUE 264 /* char[256], zero-terminated */
#define KVNC_TEXT_SIZE 256

/* Block layout: types 5001-5003 (5004 carries the type only). */
#define KVNC_BLOCK_NUMBER 8 /* uint32 */
#define KVNC_BLOCK_KIND 12  /* int32: 1 numbered block, 4 named block */
#define KVNC_BLOCK_TEXT1 16 /* char[256]: the block name */
#define KVNC_BLOCK_TEXT2 272
#define KVNC_BLOCK_TEXT3 528
#define KVNC_BLOCK_TEXT_SIZE 256

/* Point layout: 3101/3111 x, y; 3102/3112 z; 3103/3113 x, y, z (doubles). */
#define KVNC_POINT_X 40
#define KVNC_POINT_Y 48
#define KVNC_POINT_Z 56

/* Five-axis move: 3107, 3109, 3114, 3118 (and companions 4016, 4019, 4007, 4020). */
#define KVNC_MOVE5_FLAG_X 8 /* int32 change flags: 1 changed, 0 not */
#define KVNC_MOVE5_FLAG_Y 12
#define KVNC_MOVE5_FLAG_Z 16
#define KVNC_MOVE5_X 24 /* doubles */
#define KVNC_MOVE5_Y 32
#define KVNC_MOVE5_Z 40
#define KVNC_MOVE5_FLAG_I 48 /* int32 change flags of the tool axis */
#define KVNC_MOVE5_FLAG_J 52
#define KVNC_MOVE5_FLAG_K 56
#define KVNC_MOVE5_I 64 /* doubles */
#define KVNC_MOVE5_J 72
#define KVNC_MOVE5_K 80

/* Arc in the plane: 3121. */
#define KVNC_ARC_DIR 8 /* int32: 1 clockwise, 0 counter-clockwise */
#define KVNC_ARC_END_X 40
#define KVNC_ARC_END_Y 48
#define KVNC_ARC_CENTRE_X 64
#define KVNC_ARC_CENTRE_Y 72

/* Trace point: 3104. */
#define KVNC_TRACE_FLAG 8 /* int32: 1 when the fourth value is present */
#define KVNC_TRACE_X 40
#define KVNC_TRACE_Y 48
#define KVNC_TRACE_Z 56
#define KVNC_TRACE_W 80

/* Companions on channel 32: 4001/4004 x, y; 4002/4005 z; 4006 x, y, z. */
#define KVNC_COMP_X 8
#define KVNC_COMP_Y 16
#define KVNC_COMP_Z 24
/* Arc companions 4008 (clockwise) and 4009. */
#define KVNC_COMP_END_X 8
#define KVNC_COMP_END_Y 16
#define KVNC_COMP_CENTRE_X 32
#define KVNC_COMP_CENTRE_Y 40

/* Point triple: 7001 on channel 42 (int32 0 at offset 8, three equal points). */
#define KVNC_TRIPLE_ZERO 8
#define KVNC_TRIPLE_P1 16 /* x, y, z doubles */
#define KVNC_TRIPLE_P2 40
#define KVNC_TRIPLE_P3 64

#ifdef __cplusplus
}
#endif

#endif /* KVCYCLES_H */
