using System;
using System.Runtime.InteropServices;

namespace ZVAudio.Output
{
    // Every entry point of the native plug-in, declared in one place. Each bool
    // result is one byte on the native side, so each carries MarshalAs(U1); the
    // default four-byte marshalling would read three bytes of garbage.
    internal static class ZVAudioOutputNative
    {
#if (UNITY_IOS || UNITY_TVOS || UNITY_WEBGL) && !UNITY_EDITOR
        // These players link native plug-ins into the executable.
        internal const string LibraryName = "__Internal";
#else
        internal const string LibraryName = "ZVAudioOutput";
#endif

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool CreateAudioOutput();

        // bufferSize is the length of one platform buffer in frames, passed to the
        // platform as it stands; ignoredA and ignoredB are never read.
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool CreateOutputBuffer(uint bufferSize, uint channelCount,
                                                       uint sampleRate, uint ignoredA,
                                                       uint ignoredB, float formatHint,
                                                       uint bufferSeconds);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool DestroyAudioOutput();

        // The array is blittable, so it is pinned and passed without a copy;
        // count may be smaller than data.Length but never larger.
        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool OnUnityAudio(float[] data, int count);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void UnityPluginLoad(IntPtr unityInterfaces);

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void UnityPluginUnload();

        [DllImport(LibraryName, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        internal static extern bool GetAudioOutputStats(out ZVAudioOutputStats stats);
    }
}
