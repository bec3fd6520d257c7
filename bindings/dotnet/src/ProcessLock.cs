using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace Quillmar.Graphics
{
    /// <summary>
    /// The lock held across every call of the library and the copy of its
    /// text. The library's texts are one per process while this class is one
    /// per AssemblyLoadContext, so on Windows it is the named mutex
    /// "Local\quillmar-dxgi-gpu-info-&lt;pid&gt;" that every binding of the
    /// library takes. It is made with the process token's default security;
    /// an object already under the name that is no mutex, or not owned and
    /// labelled as this process's own objects are (a low-integrity process
    /// of the same user can make one), throws <see cref="GpuInfoException"/>
    /// at once, and the next call tries again. One held for longer than
    /// <see cref="WaitMs"/> (which no call of the library takes) throws
    /// rather than hang. A holder that ended without letting go counts as
    /// let go: every call rewrites the texts whole.
    /// </summary>
    internal static class ProcessLock
    {
        internal const string NamePattern = @"Local\quillmar-dxgi-gpu-info-{pid}";
        internal const uint WaitMs = 30000;
        private const uint WaitObject0 = 0, WaitAbandoned = 0x80;
        private const int ErrorAlreadyExists = 183;
        private const uint TokenQuery = 0x0008;
        private const int TokenOwner = 4, TokenIntegrityLevel = 25;
        private const int SeKernelObject = 6;
        private const uint OwnerSecurityInformation = 0x1, LabelSecurityInformation = 0x10;
        private const byte SystemMandatoryLabelAceType = 0x11;
        private const uint MediumLevel = 0x2000;
        // An ACE's SID follows its header (4 bytes) and access mask (4); an
        // ACL's ACE count follows its revision, padding and size.
        private const int AceSidOffset = 8, AclCountOffset = 4;
        private const int TokenInformationBytes = 256;

        private static readonly object Gate = new object();
        private static IntPtr mutex;

        /// <summary>What a call waits; only tests set it shorter (through reflection).</summary>
        private static uint waitMs = WaitMs;

        // Kernel32's own, rather than System.Diagnostics.Process for one number.
        [DllImport("kernel32")]
        private static extern uint GetCurrentProcessId();

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr CreateMutexW(IntPtr attributes, bool initialOwner, string name);

        [DllImport("kernel32")]
        private static extern uint WaitForSingleObject(IntPtr handle, uint ms);

        [DllImport("kernel32")]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool ReleaseMutex(IntPtr handle);

        [DllImport("kernel32")]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool CloseHandle(IntPtr handle);

        [DllImport("kernel32")]
        private static extern IntPtr GetCurrentProcess();

        [DllImport("kernel32")]
        private static extern IntPtr LocalFree(IntPtr memory);

        [DllImport("advapi32", SetLastError = true)]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool OpenProcessToken(IntPtr process, uint access, out IntPtr token);

        [DllImport("advapi32", SetLastError = true)]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool GetTokenInformation(IntPtr token, int infoClass, IntPtr info, int length, out int returned);

        [DllImport("advapi32")]
        private static extern uint GetSecurityInfo(IntPtr handle, int objectType, uint information, out IntPtr owner,
            IntPtr group, IntPtr dacl, out IntPtr sacl, out IntPtr descriptor);

        [DllImport("advapi32")]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool EqualSid(IntPtr a, IntPtr b);

        [DllImport("advapi32")]
        [return: MarshalAs(UnmanagedType.Bool)]
        private static extern bool GetAce(IntPtr acl, uint index, out IntPtr ace);

        [DllImport("advapi32")]
        private static extern IntPtr GetSidSubAuthorityCount(IntPtr sid);

        [DllImport("advapi32")]
        private static extern IntPtr GetSidSubAuthority(IntPtr sid, uint index);

        /// <summary>The integrity level (the last sub-authority) of a label's SID.</summary>
        private static uint Level(IntPtr sid)
        {
            byte count = Marshal.ReadByte(GetSidSubAuthorityCount(sid));
            return (uint)Marshal.ReadInt32(GetSidSubAuthority(sid, (uint)(count - 1)));
        }

        /// <summary>
        /// Whether the mutex found under the name is owned by the owner this
        /// process's token gives new objects and labelled no lower than they
        /// are (the lower of the token's level and medium). Anyone in the
        /// session can make an object under the name first and would hold
        /// every call hostage. Wine records no owner for objects of default
        /// security; Windows always does.
        /// </summary>
        private static bool OwnMutex(IntPtr found)
        {
            if (!OpenProcessToken(GetCurrentProcess(), TokenQuery, out IntPtr token))
                return false;
            IntPtr ownerInfo = Marshal.AllocHGlobal(TokenInformationBytes);
            IntPtr levelInfo = Marshal.AllocHGlobal(TokenInformationBytes);
            try
            {
                bool known = GetTokenInformation(token, TokenOwner, ownerInfo, TokenInformationBytes, out _)
                             && GetTokenInformation(token, TokenIntegrityLevel, levelInfo, TokenInformationBytes, out _);
                if (!known)
                    return false;
                // Both start with a pointer to their SID.
                IntPtr tokenOwner = Marshal.ReadIntPtr(ownerInfo);
                uint ours = Math.Min(Level(Marshal.ReadIntPtr(levelInfo)), MediumLevel);
                if (GetSecurityInfo(found, SeKernelObject, OwnerSecurityInformation | LabelSecurityInformation,
                        out IntPtr owner, IntPtr.Zero, IntPtr.Zero, out IntPtr sacl, out IntPtr descriptor) != 0)
                    return false;
                try
                {
                    uint level = MediumLevel;
                    int count = sacl == IntPtr.Zero ? 0 : (ushort)Marshal.ReadInt16(sacl, AclCountOffset);
                    for (int i = 0; i < count; i++)
                    {
                        if (GetAce(sacl, (uint)i, out IntPtr ace) && Marshal.ReadByte(ace) == SystemMandatoryLabelAceType)
                        {
                            level = Level(ace + AceSidOffset);
                            break;
                        }
                    }
                    return (owner == IntPtr.Zero || EqualSid(owner, tokenOwner)) && level >= ours;
                }
                finally
                {
                    LocalFree(descriptor);
                }
            }
            finally
            {
                Marshal.FreeHGlobal(ownerInfo);
                Marshal.FreeHGlobal(levelInfo);
                CloseHandle(token);
            }
        }

        internal static string Name(int pid)
        {
            return NamePattern.Replace("{pid}", pid.ToString(System.Globalization.CultureInfo.InvariantCulture));
        }

        /// <summary>Takes the lock; disposing the result lets go of it.</summary>
        internal static Held Hold()
        {
            Monitor.Enter(Gate);
            if (!NativeModule.IsWindows)
                return new Held(IntPtr.Zero);
            try
            {
                if (mutex == IntPtr.Zero)
                {
                    // A failure is not kept: the next call tries again, as the
                    // squatter may have gone.
                    IntPtr made = CreateMutexW(IntPtr.Zero, false, Name((int)GetCurrentProcessId()));
                    int error = Marshal.GetLastWin32Error();
                    if (made == IntPtr.Zero)
                        throw new GpuInfoException("no process lock: CreateMutexW failed with " + error);
                    if (error == ErrorAlreadyExists && !OwnMutex(made))
                    {
                        CloseHandle(made);
                        throw new GpuInfoException("no process lock: the mutex under its name is not this process's own");
                    }
                    mutex = made;
                }
                uint got = WaitForSingleObject(mutex, waitMs);
                if (got != WaitObject0 && got != WaitAbandoned)
                    throw new GpuInfoException("no process lock: WaitForSingleObject gave " + got);
                return new Held(mutex);
            }
            catch
            {
                Monitor.Exit(Gate);
                throw;
            }
        }

        internal struct Held : IDisposable
        {
            private readonly IntPtr held;

            internal Held(IntPtr mutex)
            {
                held = mutex;
            }

            public void Dispose()
            {
                if (held != IntPtr.Zero)
                    ReleaseMutex(held);
                Monitor.Exit(Gate);
            }
        }
    }
}
