/*
 * quillmar-dxgi-gpu-info: which graphics adapters this machine has.
 *
 * Five plain C calls of the 64-bit Windows DLL "quillmar-dxgi-gpu-info.dll".
 * Every call that reports adapters asks DXGI afresh on the caller's thread;
 * nothing is cached, nothing is allocated, no thread is started.
 *
 * Texts returned by the library live in its own static storage: never free or
 * write them; they stay valid until the DLL is unloaded and are rewritten in
 * place by later calls (copy one you need to keep).
 *
 * Threads: every call except gpuinfo_version may rewrite the shared texts, so
 * the host serialises those calls and its reading of the texts.
 */
#ifndef QUILLMAR_GPUINFO_H
#define QUILLMAR_GPUINFO_H

#ifndef GPUINFO_API
#  ifdef _WIN32
#    define GPUINFO_API __declspec(dllimport)
#  else
#    define GPUINFO_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Library version, "1.0.0". Constant text; never NULL; safe from any thread. */
GPUINFO_API const char *gpuinfo_version(void);

/* Reason of the last failed enumeration, or "" if none since load or since the
 * last gpuinfo_get_json. Never NULL; same address on every call. */
GPUINFO_API const char *gpuinfo_last_error(void);

/* One-line UTF-8 JSON report of every adapter:
 * {"adapters":[{"index":0,"name":"...","vendor":"...","vendor_id":4318,...},...]}
 * Same address on every success, rewritten in place by the next success.
 * NULL if DXGI can't be reached (reason in gpuinfo_last_error); a report
 * returned earlier is then left as it was. Empties the last-error text first. */
GPUINFO_API const char *gpuinfo_get_json(void);

/* Number of adapters that are not software adapters, 0 to 16;
 * -1 if DXGI can't be reached (reason in gpuinfo_last_error). */
GPUINFO_API int gpuinfo_adapter_count(void);

/* Dedicated video memory of the adapter at position `index` (the report's
 * "index", software adapters included) in whole MiB, rounded down, at most
 * 2147483647; -1 if index is out of range or DXGI can't be reached. */
GPUINFO_API int gpuinfo_vram_mb(int index);

#ifdef __cplusplus
}
#endif

#endif /* QUILLMAR_GPUINFO_H */
