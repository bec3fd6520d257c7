/* The report's vendor text and software flag for a PCI vendor id, as the
 * tests expect them: every id the library names, both AMD ids, and ids next
 * to them, above 16 bits and at the ends that must read "Unknown". Read by
 * the native tests (the vendor lookup, and the report checker's expected
 * vendor) and by the Windows report test through the DLL. An id not in this
 * table must read "Unknown" with software 0. Plain C that also compiles as
 * C++. */
#ifndef VENDOR_CASES_H
#define VENDOR_CASES_H

struct vendor_case {
    unsigned long id;
    const char *id_text; /* as the report writes it */
    const char *name;
    int software;
};

static const struct vendor_case VENDOR_CASES[] = {
    {0x1414, "5140", "Microsoft", 1},
    {0x10DE, "4318", "NVIDIA", 0},
    {0x8086, "32902", "Intel", 0},
    {0x1002, "4098", "AMD", 0},
    {0x1022, "4130", "AMD", 0},
    {0x15AD, "5549", "VMware", 0},
    {0x1AF4, "6900", "Red Hat", 0},
    {0x1234, "4660", "QEMU", 0},
    {0x1003, "4099", "Unknown", 0},
    {0x1042, "4162", "Unknown", 0},
    {0x8087, "32903", "Unknown", 0},
    {0x11414, "70676", "Unknown", 0},
    {0x10DE0000, "282984448", "Unknown", 0},
    {0, "0", "Unknown", 0},
    {0xFFFFFFFF, "4294967295", "Unknown", 0},
};

enum { VENDOR_CASE_COUNT = sizeof VENDOR_CASES / sizeof VENDOR_CASES[0] };

#endif
