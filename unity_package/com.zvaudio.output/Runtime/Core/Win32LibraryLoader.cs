#if !UNITY_5_3_OR_NEWER || UNITY_EDITOR_WIN || (UNITY_STANDALONE_WIN && !UNITY_EDITOR)
#define ZV_NATIVE_PLUGIN
#endif

using System;
using System.Runtime.InteropServices;

namespace ZVAudio.Output
{
    // The preload's loader calls through kernel32, declared where the plug-in's
    // own calls are (ZVAudioOutputNative): the Windows Editor and player, Mono
    // and IL2CPP, and outside the engine, where they are made on Windows only.
    internal sealed class Win32LibraryLoader : INativeLibraryLoader
    {
        // The folder of a DLL loaded by full path is searched for its own imports
        // (LoadLibraryExW, "LOAD_WITH_ALTERED_SEARCH_PATH"); the path must be
        // absolute, with backslashes.
        private const uint kLoadWithAlteredSearchPath = 0x00000008;
        private const int kMaxPath = 32768;

        public static bool IsAvailable
        {
            get { return IsWindows; }
        }

        public string LoadedPath(string fileName)
        {
            IntPtr module = GetModuleHandleW(fileName);
            if (module == IntPtr.Zero)
                return null;
            var buffer = new char[kMaxPath];
            uint length = GetModuleFileNameW(module, buffer, (uint)buffer.Length);
            return length == 0 ? fileName : new string(buffer, 0, (int)length);
        }

        public int LoadFrom(string fullPath)
        {
            string path = System.IO.Path.GetFullPath(fullPath).Replace('/', '\\');
            return LoadLibraryExW(path, IntPtr.Zero, kLoadWithAlteredSearchPath) != IntPtr.Zero
                       ? 0
                       : Math.Max(1, Marshal.GetLastWin32Error());
        }

        public int LoadFromSearchPath(string fileName)
        {
            return LoadLibraryExW(fileName, IntPtr.Zero, 0) != IntPtr.Zero ? 0
                                                                            : Math.Max(1, Marshal.GetLastWin32Error());
        }

#if ZV_NATIVE_PLUGIN
        private static bool IsWindows
        {
            get { return Environment.OSVersion.Platform == PlatformID.Win32NT; }
        }

        [DllImport("kernel32", CharSet = CharSet.Unicode, ExactSpelling = true, SetLastError = true)]
        private static extern IntPtr GetModuleHandleW(string moduleName);

        [DllImport("kernel32", CharSet = CharSet.Unicode, ExactSpelling = true, SetLastError = true)]
        private static extern IntPtr LoadLibraryExW(string fileName, IntPtr file, uint flags);

        [DllImport("kernel32", CharSet = CharSet.Unicode, ExactSpelling = true, SetLastError = true)]
        private static extern uint GetModuleFileNameW(IntPtr module, [Out] char[] fileName, uint size);
#else
        private static bool IsWindows
        {
            get { return false; }
        }

        // Never called: IsAvailable is false.
        private static IntPtr GetModuleHandleW(string moduleName) { throw new PlatformNotSupportedException(); }
        private static IntPtr LoadLibraryExW(string fileName, IntPtr file, uint flags)
        {
            throw new PlatformNotSupportedException();
        }
        private static uint GetModuleFileNameW(IntPtr module, char[] fileName, uint size)
        {
            throw new PlatformNotSupportedException();
        }
#endif
    }
}
