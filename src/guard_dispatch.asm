; The guard's dispatch stub for cl and clang-cl, which have no inline
; assembly on x64 (load_config.cpp holds it for the GNU-style compilers).
; It jumps to the call's target in rax. The symbol names data in the code
; segment, not a PROC: a function symbol whose address is taken would be listed in the guard
; function table, making a `jmp rax` a valid target for every guarded call.
;
; The object takes no function's address, so it is marked as built for
; Control Flow Guard (the 0x800 bit of @feat.00): nothing in it needs the
; compiler's instrumentation.

PUBLIC gpuinfo_guard_dispatch_icall
PUBLIC @feat.00
@feat.00 EQU 800h

.code
gpuinfo_guard_dispatch_icall BYTE 0FFh, 0E0h    ; jmp rax
END
