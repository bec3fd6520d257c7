/* Calls the library through its import library, as an application that
 * links it at build time would, and prints what it got. */
#include <stdio.h>

#include "gpuinfo.h"

int main(void)
{
    const char *report = gpuinfo_get_json();
    if (!report) {
        printf("failed: %s\n", gpuinfo_last_error());
        return 1;
    }
    printf("%s\n", report);
    printf("version %s\n", gpuinfo_version());
    printf("hardware adapters %d\n", gpuinfo_adapter_count());
    printf("adapter 0 %d MiB\n", gpuinfo_vram_mb(0));
    return 0;
}
