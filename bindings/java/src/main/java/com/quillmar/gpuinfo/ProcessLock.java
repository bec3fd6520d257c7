package com.quillmar.gpuinfo;

import com.sun.jna.Function;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import com.sun.jna.WString;
import java.util.function.Supplier;

/**
 * The lock held across every call of the library and the copy of its text.
 * The library's texts are one per process while {@link GpuInfo}'s monitor is
 * one per class loader, so on Windows this is also the named mutex
 * {@code Local\quillmar-dxgi-gpu-info-<pid>} that every binding of the
 * library takes. It is made with the process token's default security, so
 * another user's object of that name can't be opened; one held longer than
 * {@link #WAIT_MS} (which no call of the library takes) throws
 * {@link GpuInfoException} rather than hang. A holder that ended without
 * letting go counts as let go: every call rewrites the texts whole.
 */
final class ProcessLock {
    static final String NAME_PATTERN = "Local\\quillmar-dxgi-gpu-info-{pid}";
    static final int WAIT_MS = 30000;
    private static final int WAIT_OBJECT_0 = 0;
    private static final int WAIT_ABANDONED = 0x80;

    private static Pointer mutex; // guarded by GpuInfo.class

    private ProcessLock() {
    }

    static String name(long pid) {
        return NAME_PATTERN.replace("{pid}", Long.toString(pid));
    }

    /** Runs {@code call} holding the named mutex; the caller holds GpuInfo's monitor. */
    static <T> T hold(Supplier<T> call) {
        if (!Platform.isWindows()) {
            return call.get();
        }
        NativeLibrary kernel32 = NativeLibrary.getInstance("kernel32");
        if (mutex == null) {
            Function create = kernel32.getFunction("CreateMutexW");
            Pointer made = create.invokePointer(new Object[] {null, 0, new WString(name(ProcessHandle.current().pid()))});
            if (made == null) {
                int error = kernel32.getFunction("GetLastError").invokeInt(new Object[0]);
                throw new GpuInfoException("no process lock: CreateMutexW failed with " + error);
            }
            mutex = made;
        }
        int got = kernel32.getFunction("WaitForSingleObject").invokeInt(new Object[] {mutex, WAIT_MS});
        if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
            throw new GpuInfoException("no process lock: WaitForSingleObject gave " + got);
        }
        try {
            return call.get();
        } finally {
            kernel32.getFunction("ReleaseMutex").invokeInt(new Object[] {mutex});
        }
    }
}
