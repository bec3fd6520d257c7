package com.quillmar.gpuinfo;

import com.sun.jna.Function;
import com.sun.jna.Memory;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import com.sun.jna.WString;
import com.sun.jna.ptr.IntByReference;
import com.sun.jna.ptr.PointerByReference;
import java.lang.ref.Reference;
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
 * library takes. It is made with the process token's default security; an
 * object already under the name that is no mutex, or not owned and labelled
 * as this process's own objects are (a low-integrity process of the same
 * user can make one), throws {@link GpuInfoException} at once, and the next
 * call tries again. One held longer than {@link #WAIT_MS} (which no call of
 * the library takes) throws rather than hang. A holder that ended without
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
    private static final int ERROR_ALREADY_EXISTS = 183;
    private static final int TOKEN_QUERY = 0x0008;
    private static final int TOKEN_OWNER = 4;
    private static final int TOKEN_INTEGRITY_LEVEL = 25;
    private static final int TOKEN_INFORMATION_BYTES = 256;
    private static final int SE_KERNEL_OBJECT = 6;
    private static final int OWNER_SECURITY_INFORMATION = 0x1;
    private static final int LABEL_SECURITY_INFORMATION = 0x10;
    private static final byte SYSTEM_MANDATORY_LABEL_ACE_TYPE = 0x11;
    private static final int MEDIUM_LEVEL = 0x2000;
    /** An ACE's SID follows its header (4 bytes) and access mask (4). */
    private static final int ACE_SID_OFFSET = 8;
    /** An ACL's count of ACEs follows its revision, padding and size. */
    private static final int ACL_COUNT_OFFSET = 4;
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
        static final Function CLOSE = LIBRARY.getFunction("CloseHandle");
        static final Function CURRENT_PROCESS = LIBRARY.getFunction("GetCurrentProcess");
        static final Function LOCAL_FREE = LIBRARY.getFunction("LocalFree");
    }

    /** advapi32's functions for the check of a mutex found under the name, looked up once. */
    private static final class Advapi32 {
        private static final NativeLibrary LIBRARY = NativeLibrary.getInstance("advapi32");
        static final Function OPEN_PROCESS_TOKEN = LIBRARY.getFunction("OpenProcessToken");
        static final Function TOKEN_INFORMATION = LIBRARY.getFunction("GetTokenInformation");
        static final Function SECURITY_INFO = LIBRARY.getFunction("GetSecurityInfo");
        static final Function EQUAL_SID = LIBRARY.getFunction("EqualSid");
        static final Function GET_ACE = LIBRARY.getFunction("GetAce");
        static final Function SUB_AUTHORITY_COUNT = LIBRARY.getFunction("GetSidSubAuthorityCount");
        static final Function SUB_AUTHORITY = LIBRARY.getFunction("GetSidSubAuthority");
    }

    /** The integrity level of a label's SID: its last sub-authority. */
    private static int level(Pointer sid) {
        int count = Advapi32.SUB_AUTHORITY_COUNT.invokePointer(new Object[] {sid}).getByte(0) & 0xff;
        return Advapi32.SUB_AUTHORITY.invokePointer(new Object[] {sid, count - 1}).getInt(0);
    }

    /**
     * Whether the mutex found under the name is owned by the owner this
     * process's token gives new objects and labelled no lower than they are
     * (the lower of the token's level and medium). Anyone in the session can
     * make an object under the name first and would hold every call hostage.
     * Wine records no owner for objects of default security; Windows always does.
     */
    private static boolean ownMutex(Pointer found) {
        PointerByReference token = new PointerByReference();
        Pointer process = Kernel32.CURRENT_PROCESS.invokePointer(NO_ARGUMENTS);
        if (Advapi32.OPEN_PROCESS_TOKEN.invokeInt(new Object[] {process, TOKEN_QUERY, token}) == 0) {
            return false;
        }
        Memory ownerInfo = new Memory(TOKEN_INFORMATION_BYTES);
        Memory levelInfo = new Memory(TOKEN_INFORMATION_BYTES);
        IntByReference size = new IntByReference();
        boolean known = Advapi32.TOKEN_INFORMATION.invokeInt(
                        new Object[] {token.getValue(), TOKEN_OWNER, ownerInfo, TOKEN_INFORMATION_BYTES, size}) != 0
                && Advapi32.TOKEN_INFORMATION.invokeInt(
                        new Object[] {token.getValue(), TOKEN_INTEGRITY_LEVEL, levelInfo, TOKEN_INFORMATION_BYTES, size}) != 0;
        Kernel32.CLOSE.invokeInt(new Object[] {token.getValue()});
        if (!known) {
            return false;
        }
        // Both start with a pointer to their SID, inside the same buffer.
        Pointer tokenOwner = ownerInfo.getPointer(0);
        int ours = Math.min(level(levelInfo.getPointer(0)), MEDIUM_LEVEL);
        PointerByReference owner = new PointerByReference();
        PointerByReference sacl = new PointerByReference();
        PointerByReference descriptor = new PointerByReference();
        if (Advapi32.SECURITY_INFO.invokeInt(new Object[] {found, SE_KERNEL_OBJECT,
                OWNER_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, owner, null, null, sacl, descriptor}) != 0) {
            return false;
        }
        try {
            int level = MEDIUM_LEVEL;
            Pointer acl = sacl.getValue();
            int count = acl == null ? 0 : Short.toUnsignedInt(acl.getShort(ACL_COUNT_OFFSET));
            for (int i = 0; i < count; i++) {
                PointerByReference ace = new PointerByReference();
                if (Advapi32.GET_ACE.invokeInt(new Object[] {acl, i, ace}) != 0
                        && ace.getValue().getByte(0) == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
                    level = level(ace.getValue().share(ACE_SID_OFFSET));
                    break;
                }
            }
            return (owner.getValue() == null
                    || Advapi32.EQUAL_SID.invokeInt(new Object[] {owner.getValue(), tokenOwner}) != 0)
                    && level >= ours;
        } finally {
            Kernel32.LOCAL_FREE.invokePointer(new Object[] {descriptor.getValue()});
            Reference.reachabilityFence(ownerInfo);
        }
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
            int error = Native.getLastError();
            if (made == null) {
                throw new GpuInfoException("no process lock: CreateMutexW failed with " + error);
            }
            // A failure is not kept: the next call tries again, as the squatter may have gone.
            if (error == ERROR_ALREADY_EXISTS && !ownMutex(made)) {
                Kernel32.CLOSE.invokeInt(new Object[] {made});
                throw new GpuInfoException("no process lock: the mutex under its name is not this process's own");
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
