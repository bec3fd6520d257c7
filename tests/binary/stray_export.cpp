/* Negative fixture for the binary check: a function marked for export
 * outside the .def, linked into a copy of the library. Either the linker
 * refuses it or the check must name it; it can't reach a DLL unnoticed. */
extern "C" __declspec(dllexport) int gpuinfo_stray_export(void);
extern "C" __declspec(dllexport) int gpuinfo_stray_export(void)
{
    return 0;
}
