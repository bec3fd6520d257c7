/* Links the library through its import library, as a host does, and prints
 * what it says about this machine. */
#include <stdio.h>

#include "gpuinfo.h"

int main(void)
{
    const char *report = gpuinfo_get_json();
    printf("version %s\n", gpuinfo_version());
    if (!report) {
        printf("failed: %s\n", gpuinfo_last_error());
        return 1;
    }
    printf("%s\nhardware adapters %d\n", report, gpuinfo_adapter_count());
    return 0;
}
