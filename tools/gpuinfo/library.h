/* The library, loaded at run time from the folder of gpuinfo.exe as hosts
 * load it: a missing or incomplete DLL is a message and an exit code rather
 * than a loader dialog. */
#ifndef GPUINFO_TOOL_LIBRARY_H
#define GPUINFO_TOOL_LIBRARY_H

/* Read with GPUINFO_API defined as `typedef`, the public header declares the
 * five function types under the functions' own names, so the pointers below
 * take their types from the header itself. */
#define GPUINFO_API typedef
#include "gpuinfo.h"
#undef GPUINFO_API

#define LIBRARY_FILE "quillmar-dxgi-gpu-info.dll"

struct library {
    gpuinfo_version *version;
    gpuinfo_last_error *last_error;
    gpuinfo_get_json *get_json;
    gpuinfo_adapter_count *adapter_count;
    gpuinfo_vram_mb *vram_mb;
};

enum load_result { LOAD_OK, LOAD_MISSING, LOAD_INCOMPLETE };

/* Loads the library beside this program and finds its five calls, saying on
 * standard error what went wrong. */
enum load_result library_load(struct library *lib);

#endif
