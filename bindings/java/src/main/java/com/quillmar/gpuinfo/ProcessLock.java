package com.quillmar.gpuinfo;

import com.sun.jna.Function;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import com.sun.jna.WString;
import java.lang.reflect.Method;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
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
 *
 * <p>A mutex belongs to the OS thread that took it, and a virtual thread may
 * move to another OS thread while it waits (on JDK 24 and later even inside a
 * monitor), so a virtual thread's locked section runs on a platform thread of
 * this class's own.
 */
final class ProcessLock {
    static final String NAME_PATTERN = "Local\\quillmar-dxgi-gpu-info-{pid}";
    static final int WAIT_MS = 30000;
    private static final int WAIT_OBJECT_0 = 0;
    private static final int WAIT_ABANDONED = 0x80;
    private static final Object[] NO_ARGUMENTS = new Object[0];
    /** {@code Thread.isVirtual()}, or null before JDK 19, which has no virtual threads. */
    private static final Method IS_VIRTUAL = isVirtualMethod();

    private static Pointer mutex; // guarded by GpuInfo.class
    private static ExecutorService platformThread; // guarded by GpuInfo.class

    private ProcessLock() {
    }

    /** kernel32's functions, looked up once: JNA's lookup is synchronized and may block. */
    private static final class Kernel32 {
        private static final NativeLibrary LIBRARY = NativeLibrary.getInstance("kernel32");
        static final Function CREATE_MUTEX = LIBRARY.getFunction("CreateMutexW");
        static final Function WAIT = LIBRARY.getFunction("WaitForSingleObject");
        static final Function RELEASE = LIBRARY.getFunction("ReleaseMutex");
    }

    static String name(long pid) {
        return NAME_PATTERN.replace("{pid}", Long.toString(pid));
    }

    /** Runs {@code call} holding the named mutex; the caller holds GpuInfo's monitor. */
    static <T> T hold(Supplier<T> call) {
        if (!Platform.isWindows()) {
            return call.get();
        }
        if (!isVirtual(Thread.currentThread())) {
            return holdHere(call);
        }
        if (platformThread == null) {
            platformThread = Executors.newSingleThreadExecutor(task -> {
                Thread thread = new Thread(task, "quillmar-gpuinfo-lock");
                thread.setDaemon(true);
                return thread;
            });
        }
        try {
            return platformThread.submit(() -> holdHere(call)).get();
        } catch (ExecutionException e) {
            if (e.getCause() instanceof RuntimeException) {
                throw (RuntimeException) e.getCause();
            }
            if (e.getCause() instanceof Error) {
                throw (Error) e.getCause();
            }
            throw new GpuInfoException("no process lock: " + e.getCause(), e.getCause());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new GpuInfoException("no process lock: interrupted", e);
        }
    }

    private static <T> T holdHere(Supplier<T> call) {
        if (mutex == null) {
            Pointer made = Kernel32.CREATE_MUTEX.invokePointer(
                    new Object[] {null, 0, new WString(name(ProcessHandle.current().pid()))});
            if (made == null) {
                throw new GpuInfoException("no process lock: CreateMutexW failed with " + Native.getLastError());
            }
            mutex = made;
        }
        int got = Kernel32.WAIT.invokeInt(new Object[] {mutex, WAIT_MS});
        if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
            throw new GpuInfoException("no process lock: WaitForSingleObject gave " + got);
        }
        T result;
        try {
            result = call.get();
        } finally {
            if (Kernel32.RELEASE.invokeInt(new Object[] {mutex}) == 0) {
                // Only another thread's ownership makes it fail: say so, rather
                // than leave every later call to time out without a reason.
                throw new GpuInfoException("no process lock: ReleaseMutex failed with " + Native.getLastError());
            }
        }
        return result;
    }

    static boolean isVirtual(Thread thread) {
        try {
            return IS_VIRTUAL != null && (Boolean) IS_VIRTUAL.invoke(thread, NO_ARGUMENTS);
        } catch (ReflectiveOperationException e) {
            return false;
        }
    }

    private static Method isVirtualMethod() {
        try {
            return Thread.class.getMethod("isVirtual");
        } catch (NoSuchMethodException e) {
            return null;
        }
    }
}
