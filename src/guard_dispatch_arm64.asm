; The guard's dispatch stub for cl on ARM64 (armasm64), which has no inline
; assembly there; clang-cl and clang take the inline assembly in
; load_config.cpp. It branches to the call's target in x15. The symbol
; labels data in the code area, not a function: a function symbol whose
; address is taken would be listed in the guard function table, making a
; `br x15` a valid target for every guarded call.

    AREA |.text|, CODE, READONLY, ALIGN=2
    EXPORT gpuinfo_guard_dispatch_icall
gpuinfo_guard_dispatch_icall
    DCD 0xD61F01E0    ; br x15
    END
