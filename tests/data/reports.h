/* Reports as the tests expect them, one definition each: read by the Windows
 * tests, the native tests and the benchmarks, and (EXAMPLE_REPORT) by the
 * Python tests of the tool and the bundle, which take the one string literal
 * on its #define line. Plain C that also compiles as C++. */
#ifndef TEST_REPORTS_H
#define TEST_REPORTS_H

/* The test double's "example" preset: a discrete AMD adapter and the
 * software rasterizer (tests/fake_dxgi/fake_presets.h). */
#define EXAMPLE_REPORT "{\"adapters\":[{\"index\":0,\"name\":\"Example V7 Graphics\",\"vendor\":\"AMD\",\"vendor_id\":4098,\"device_id\":29631,\"dedicated_vram_mb\":16368,\"shared_memory_mb\":32727,\"driver_version\":\"31.0.24033.1003\",\"software\":0},{\"index\":1,\"name\":\"Software Rasterizer\",\"vendor\":\"Microsoft\",\"vendor_id\":5140,\"device_id\":140,\"dedicated_vram_mb\":0,\"shared_memory_mb\":4044,\"driver_version\":\"\",\"software\":1}]}"
#define EXAMPLE_REPORT_BYTES 378

/* The "max16" preset: sixteen objects alike but for their index, each
 * "{\"index\":" i ",\"name\":\"" MAX16_NAME_HEAD, MAX16_NAME_PAIRS escaped
 * quotes, then MAX16_OBJECT_END; separated by commas. */
#define MAX16_NAME_HEAD "A"
#define MAX16_NAME_PAIRS 95 /* 1 + 95 * 2 = 191 bytes, the longest name */
#define MAX16_OBJECT_END                                                                              \
    "\",\"vendor\":\"Unknown\",\"vendor_id\":4294967295,\"device_id\":4294967295,"                     \
    "\"dedicated_vram_mb\":17592186044415,\"shared_memory_mb\":17592186044415,"                        \
    "\"driver_version\":\"65535.65535.65535.65535\",\"software\":0}"
/* 16 objects of 402 bytes plus one more digit for indexes 10 to 15, 15
 * separators, and the opening and closing texts. */
#define MAX16_REPORT_BYTES (13 + 16 * 402 + 6 + 15 + 2)

#endif
